// link/link_socket.h - what every end of a link does alike with ZeroMQ:
// the limits each socket gets, a batch of events made into a message, and
// a cheap wait on the sockets. Part of the link library.
#ifndef ZERA_LINK_SOCKET_H
#define ZERA_LINK_SOCKET_H

#include <zmq.h>

#include <initializer_list>

#include "link_wire.h"

namespace zlink {

// The high-water mark (messages per direction and connection) that the
// ends use unless told otherwise: with kMaxMessage bytes at most per
// message, a connection holds at most 2 x 16 x kMaxMessage (about 12 MiB)
// in ZeroMQ's queues, however the peer behaves.
constexpr int kDefaultHighWater = 16;

// Sets what every socket of a link has: no linger at a close, `highWater`
// messages per direction, and kMaxMessage as the longest message it takes
// (a peer that sends a longer one loses its connection before any of it is
// kept). False when ZeroMQ refuses one (zmq_errno says why).
inline bool LimitSocket(void *socket, int highWater) {
    const int zero = 0;
    const int64_t largest = static_cast<int64_t>(kMaxMessage);
    return zmq_setsockopt(socket, ZMQ_LINGER, &zero, sizeof zero) == 0 &&
           zmq_setsockopt(socket, ZMQ_SNDHWM, &highWater, sizeof highWater) == 0 &&
           zmq_setsockopt(socket, ZMQ_RCVHWM, &highWater, sizeof highWater) == 0 &&
           zmq_setsockopt(socket, ZMQ_MAXMSGSIZE, &largest, sizeof largest) == 0;
}

// Initialises *msg with the message of *batch (sequence and acknowledgement
// 0; PatchEvent sets them). A batch of several events hands its packet over
// to the message, which frees it once ZeroMQ has sent it, so that the bytes
// are not copied; a single event is copied. False, with *msg initialised
// empty, when memory runs out; the batch is empty either way.
inline bool BatchMessage(EventBatch *batch, zmq_msg_t *msg) {
    uint8_t *bytes = nullptr;
    size_t size = 0;
    if (ZERA_HPACKET packet = batch->TakeMessage(&bytes, &size)) {
        const auto free = [](void *, void *hint) { ZERA_boMarshalPacketDelete(static_cast<ZERA_HPACKET>(hint)); };
        if (zmq_msg_init_data(msg, bytes, size, free, packet) == 0) return true;
        ZERA_boMarshalPacketDelete(packet);
    } else if (zmq_msg_init_size(msg, batch->MessageSize()) == 0) {
        batch->CopyMessage(static_cast<uint8_t *>(zmq_msg_data(msg)));
        batch->Clear();
        return true;
    }
    batch->Clear();
    zmq_msg_init(msg);
    return false;
}

// Waits on a thread's sockets through their descriptors, not the sockets:
// asking ZeroMQ about a socket costs two system calls, and a poll of the
// sockets asks about each before and after its wait. A descriptor only
// tells of news that came after ZeroMQ last found the socket empty; so a
// socket reported ready is to be read until a read finds nothing, and the
// first socket, which the thread also writes to (a write may take its news
// in unseen), is asked about before every wait. Used by one thread.
class SocketWait {
public:
    static constexpr int kMax = 3;
    SocketWait(std::initializer_list<void *> sockets) {
        for (void *socket : sockets) {
            if (count_ == kMax) break;
            size_t size = sizeof fds_[count_];
            zmq_getsockopt(socket, ZMQ_FD, &fds_[count_], &size);
            sockets_[count_++] = socket;
        }
    }
    // Sets ready[i] for each of the first n sockets that may have news,
    // after a wait of up to ms milliseconds when none is known to have any.
    void Wait(int n, int ms, bool *ready) {
        int events = 0;
        size_t size = sizeof events;
        ready[0] = zmq_getsockopt(sockets_[0], ZMQ_EVENTS, &events, &size) == 0 && (events & ZMQ_POLLIN) != 0;
        zmq_pollitem_t items[kMax] = {};
        bool known = false;
        for (int i = 0; i < n; ++i) {
            // Setting a socket up may have taken its first news in.
            ready[i] = ready[i] || unread_[i];
            unread_[i] = false;
            known = known || ready[i];
            items[i] = {nullptr, fds_[i], ZMQ_POLLIN, 0};
        }
        if (zmq_poll(items, n, known ? 0 : ms) > 0) {
            for (int i = 0; i < n; ++i) ready[i] = ready[i] || items[i].revents != 0;
        }
    }

private:
    void *sockets_[kMax] = {};
    zmq_fd_t fds_[kMax] = {};
    bool unread_[kMax] = {true, true, true};  // not yet read up to its end
    int count_ = 0;
};

}  // namespace zlink

#endif  // ZERA_LINK_SOCKET_H
