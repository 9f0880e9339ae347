// link/link_keys.h - who may use a link: CURVE key pairs in files, the
// server's allow-list of client keys, the handler that enforces it inside
// the server's process, and which endpoints stay on this machine. Part of
// the link library.
//
// A key pair file (`zera keygen NAME` writes NAME.key and NAME.pub):
//
//   # zera link key pair NAME: keep this file secret
//   public-key = <40 characters, ZeroMQ's Z85 form of the 32-byte key>
//   secret-key = <40 characters>
//
// NAME.pub holds the public-key line alone, to hand to the other side. An
// allow-list is such a file with one public-key line per allowed client
// (a bare key on a line of its own is taken too), or a folder whose *.pub
// files are read so. Lines that begin with '#' and empty lines are skipped;
// anything else refuses the file.
#ifndef ZERA_LINK_KEYS_H
#define ZERA_LINK_KEYS_H

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace zlink {

constexpr size_t kKeyText = 40;  // a key's Z85 form

struct KeyPair {
    std::string publicKey;  // Z85
    std::string secretKey;  // Z85; empty when read from a public file
};

// Makes a new key pair and writes NAME.key (readable by its owner only)
// and NAME.pub; false with a message when either exists or cannot be
// written (then neither is left behind).
bool WriteKeyPair(const std::string &name, KeyPair *made, std::string *error);
// Reads a key pair file; with needSecret false a public file will do.
// False with a message naming the file and the line.
bool ReadKeyFile(const std::string &path, bool needSecret, KeyPair *out, std::string *error);
// Reads an allow-list file or folder into *keys; false with a message, and
// also when it allows nobody.
bool ReadAllowList(const std::string &path, std::set<std::string> *keys, std::string *error);
// Whether text is a key in Z85 form.
bool IsKeyText(const std::string &text);

// Whether an endpoint stays on this machine: ipc and inproc, and tcp on
// 127.0.0.0/8, ::1 or localhost. A wildcard or any other address is not.
bool IsLoopbackEndpoint(const std::string &endpoint);

// Makes socket a CURVE server with the pair's secret key, or a client of
// the server whose public key is given; false with a message.
bool MakeCurveServer(void *socket, const KeyPair &server, std::string *error);
bool MakeCurveClient(void *socket, const KeyPair &client, const std::string &serverKey, std::string *error);

// The handler ZeroMQ asks, for every connection a CURVE server socket of
// its context takes, whether the client's key may in: it answers yes only
// for keys on the allow-list, and no to everything else (another mechanism
// too). The key it lets in becomes the connection's user id, which the
// server reads off each message. One thread; Start before the server
// socket binds, Stop before the context ends.
class KeyGate {
public:
    KeyGate() = default;
    KeyGate(const KeyGate &) = delete;
    KeyGate &operator=(const KeyGate &) = delete;
    ~KeyGate() { Stop(); }
    bool Start(void *ctx, const std::set<std::string> &allowed, std::string *error);
    void Stop();
    uint32_t Denied() const { return denied_.load(); }

private:
    void Run();
    void *socket_ = nullptr;  // the handler's thread only, once started
    std::set<std::string> allowed_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<uint32_t> denied_{0};
};

}  // namespace zlink

#endif  // ZERA_LINK_KEYS_H
