// marshal/marshal.h - what the marshalling files and other subsystems may
// call: the packet record behind ZERA_HPACKET, the two checks every writer
// and reader rests on, single units, strings and streams, and the parameter
// encodings without the export layer. The event encoding (event/) and the
// stack-level encoding (stack/) build on these; how the encodings move their
// bytes is marshal/wire_io.h, for them and this folder only.
//
// Internal: included by src/ and tests only. Packets carry no lock; one
// thread at a time uses a packet.
#ifndef ZERA_MARSHAL_MARSHAL_H
#define ZERA_MARSHAL_MARSHAL_H

#include <cstdint>

#include "common/common.h"

namespace zera {

// The record behind a packet handle. 0 <= i32DataSize <= i32BufSize and
// 0 <= i32CurReadPos <= i32DataSize at all times.
struct MarshalPacket {
    void *pvData;          // the buffer, owned by the packet
    int32_t i32BufSize;    // bytes allocated
    int32_t i32DataSize;   // bytes written; the next item goes here
    int32_t i32CurReadPos; // offset of the next byte to read
};

inline MarshalPacket *ToPacket(ZERA_HPACKET h) { return static_cast<MarshalPacket *>(h); }
inline uint8_t *WriteEnd(MarshalPacket *p) { return static_cast<uint8_t *>(p->pvData) + p->i32DataSize; }
inline const uint8_t *ReadPos(const MarshalPacket *p) {
    return static_cast<const uint8_t *>(p->pvData) + p->i32CurReadPos;
}

// Makes room to append n bytes, growing the buffer to the smallest multiple
// of ZERA_MARSHAL_GROWTH that holds everything. False with 1034 (n negative,
// or the size would pass INT32_MAX), 1027 (null packet) or 1026 (the buffer
// cannot grow; the old one stays with its contents).
ZERA_TEST_VISIBLE bool EnsureRoom(MarshalPacket *p, int64_t n);

// Whether at least n unread bytes remain. False with 1034 (n negative), 1027
// (null packet) or 1032 (short packet).
ZERA_TEST_VISIBLE bool CheckAvailable(MarshalPacket *p, int64_t n);

// Appends one unit of `width` bytes (1, 2, 4, 8) from the host variable in
// network order, growing the packet. False with the code of EnsureRoom
// (1027 for a null packet); nothing written then.
bool PutUnit(MarshalPacket *p, const void *host, uint32_t width);

// Reads one unit into the host variable and advances the read position.
// False with the code of CheckAvailable (1032 short, 1027 null packet);
// position and host variable unchanged then.
bool GetUnit(MarshalPacket *p, void *host, uint32_t width);

// The stream and string encodings behind the exports of the same names, for
// the parameter, event and stack-level encodings. Same contracts as the
// exports (a null packet gives 1027).
bool MarshalByteStream(MarshalPacket *p, const void *data, int32_t len);
bool MarshalString(MarshalPacket *p, const char *s);
bool MarshalWideString(MarshalPacket *p, const WCHAR16 *s);
int32_t UnmarshalByteStream(MarshalPacket *p, void **data, bool alloc);
int32_t UnmarshalString(MarshalPacket *p, char **s);
int32_t UnmarshalWideString(MarshalPacket *p, WCHAR16 **s);

// The parameter encoding behind ZERA_boMarshalParamA/W and the list and
// reader operations, for the event and stack-level encodings. Same contracts
// as the exports in zera/marshal.h; `wide` picks 16-bit strings.
bool MarshalParam(MarshalPacket *p, const Param *param, bool wide);
ZERA_TEST_VISIBLE bool MarshalParamList(MarshalPacket *p, Param *list, bool changedOnly, bool wide);
bool UnmarshalParam(MarshalPacket *p, Param *dest, bool replace, bool wide);
ZERA_TEST_VISIBLE bool UnmarshalParamList(MarshalPacket *p, Param **list, bool wide);

}  // namespace zera

#endif  // ZERA_MARSHAL_MARSHAL_H
