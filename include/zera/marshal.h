/*
 * zera/marshal.h - marshal packets and the tagless wire encoding of scalars,
 * streams, strings, parameters and parameter lists.
 *
 * A packet is a growable byte buffer with a write end and an independent
 * read cursor. Items carry no tags, lengths of their own or padding: a reader
 * takes them in the order they were written. Units of 2, 4 and 8 bytes stand
 * in network byte order. A failed append leaves the data as it was (except
 * the first half of a QWord/TimeVal); a failed scalar read leaves the read
 * position as it was, a failed stream read leaves it behind the length.
 *
 * Everything a reader allocates comes from the library's allocator and
 * belongs to the caller (ZERA_vFree; parameter lists ZERA_vDeleteParamListA/W).
 * A packet is used by one thread at a time.
 *
 * Pure C (C11 and C++17 clean). Included through VOQ_ZERA_Comp.h.
 */
#ifndef ZERA_MARSHAL_H
#define ZERA_MARSHAL_H

#include "zera/types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Growth step of a packet's buffer, and the size of a new writing packet. */
#define ZERA_MARSHAL_GROWTH 4096

/* ---- Packets ---------------------------------------------------------------- */

/* (null, 0): an empty packet for writing. (buffer, size > 0): a packet for
 * reading over the buffer, which passes into the packet (it must come from
 * ZERA_pvMalloc; the packet may reallocate it and frees it on delete). The
 * caller owns the packet. Null with 1026 (memory), 1034 (negative size) or
 * 1028 (a buffer with size 0, or a size without a buffer). */
ZERA_API ZERA_HPACKET ZERA_CALL ZERA_hMarshalPacketCreate(void *pvData, int32_t i32Size);
/* Frees the packet and its buffer. False with 1027 for null. */
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalPacketDelete(ZERA_HPACKET hPacket);
/* The first data byte; valid until the next append or the delete. */
ZERA_API void *ZERA_CALL ZERA_pvMarshalGetStartOfData(ZERA_HPACKET hPacket);
ZERA_API int32_t ZERA_CALL ZERA_i32MarshalGetCurReadPos(ZERA_HPACKET hPacket);
ZERA_API int32_t ZERA_CALL ZERA_i32MarshalGetDataSize(ZERA_HPACKET hPacket);
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalResetReadPos(ZERA_HPACKET hPacket);

/* ---- Scalars: 1027 null packet, 1028 null value, 1026/1034 no room, 1032 short */

ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalBool(ZERA_HPACKET hPacket, const BOOL8 *pboValue);
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalByte(ZERA_HPACKET hPacket, const uint8_t *pu8Value);
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalWord(ZERA_HPACKET hPacket, const uint16_t *pu16Value);
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalDWord(ZERA_HPACKET hPacket, const uint32_t *pdwValue);
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalReal(ZERA_HPACKET hPacket, const double *prValue);
/* An 8-byte value as two 32-bit words, the second one in memory first: a
 * uint64_t most significant byte first, a TimeVal as i32Seconds then
 * dwMicroseconds. ZERA_boMarshalTimeVal is the same function. */
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalQWord(ZERA_HPACKET hPacket, const void *pvValue);
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalTimeVal(ZERA_HPACKET hPacket, const void *pvValue);

ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalBool(ZERA_HPACKET hPacket, BOOL8 *pboValue);
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalByte(ZERA_HPACKET hPacket, uint8_t *pu8Value);
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalWord(ZERA_HPACKET hPacket, uint16_t *pu16Value);
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalDWord(ZERA_HPACKET hPacket, uint32_t *pdwValue);
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalReal(ZERA_HPACKET hPacket, double *prValue);
/* ZERA_boUnmarshalTimeVal is the same function as ZERA_boUnmarshalQWord. */
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalQWord(ZERA_HPACKET hPacket, void *pvValue);
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalTimeVal(ZERA_HPACKET hPacket, void *pvValue);

/* ---- Streams and strings ------------------------------------------------------ */

/* Lengths are in bytes, for word and double-word streams too. Data may be null
 * when the length is 0. False with 1027 (null packet), 1028 (null data with a
 * length), 1034 (negative length, or not a multiple of the unit), or the code
 * of a failed growth; a writer that fails before its length is appended leaves
 * the packet unchanged. */
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalByteStream(ZERA_HPACKET hPacket, const void *pvData, int32_t i32Len);
/* The data bytes only, with no length in front. */
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalByteStreamRaw(ZERA_HPACKET hPacket, const void *pvData, int32_t i32Len);
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalWordStream(ZERA_HPACKET hPacket, const uint16_t *pu16Data, int32_t i32Len);
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalDWordStream(ZERA_HPACKET hPacket, const uint32_t *pdwData, int32_t i32Len);
/* A string with its NUL as a byte stream; null as length 0. The wide writer
 * puts one byte per character (units above 0xFF become '?'); 1026 when its
 * conversion buffer cannot be had. */
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalHString(ZERA_HPACKET hPacket, const char *pszValue);
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalLString(ZERA_HPACKET hPacket, const WCHAR16 *pwszValue);

/* Readers give the number of bytes read, or -1 with 1027 (null packet), 1028
 * (null out address), 1034 (bad length on the wire), 1032 (short packet) or
 * 1026 (memory, or boAlloc false with a null buffer). With boAlloc the reader
 * allocates the buffer into *ppv and the caller owns it; without, *ppv must
 * point to a buffer large enough and nothing is allocated. A byte stream of
 * length 0 sets *ppv to null with boAlloc and leaves it without; the word
 * readers set it to null in both modes. */
ZERA_API int32_t ZERA_CALL ZERA_i32UnmarshalByteStream(ZERA_HPACKET hPacket, void **ppvData, BOOL8 boAlloc);
ZERA_API int32_t ZERA_CALL ZERA_i32UnmarshalWordStream(ZERA_HPACKET hPacket, uint16_t **ppu16Data,
                                                      BOOL8 boAlloc);
ZERA_API int32_t ZERA_CALL ZERA_i32UnmarshalDWordStream(ZERA_HPACKET hPacket, uint32_t **ppdwData,
                                                       BOOL8 boAlloc);
/* A heap copy of the string into *ppsz (owned by the caller; null for a null
 * string) and its length without the NUL, or -1. A stream whose last byte is
 * not NUL is no string: -1 with 1034. */
ZERA_API int32_t ZERA_CALL ZERA_i32UnmarshalHString(ZERA_HPACKET hPacket, char **ppszValue);
/* As the narrow reader, widened one unit per byte; gives the number of wide
 * characters up to the first NUL. */
ZERA_API int32_t ZERA_CALL ZERA_i32UnmarshalLString(ZERA_HPACKET hPacket, WCHAR16 **ppwszValue);

/* ---- Parameters and parameter lists -------------------------------------------- */

/* Writes one parameter with its value chain. Narrow and wide lists write the
 * same bytes. False with 1028 (null record), 2056 (type above 3 or a value
 * kind above 1; nothing of the chain written) or the code of a failed write;
 * what was written before a failure stays. */
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalParamA(ZERA_HPACKET hPacket, const Param *pstParam);
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalParamW(ZERA_HPACKET hPacket, const Param *pstParam);
/* Writes the record count and the records up to the end record (null or empty
 * name), every one or, with boChangedOnly and neither list-shape bit set on
 * the first record, only those with a changed value; the end record always.
 * Clears change bits 0 to 2 of every record visited. False with 1028 for a
 * null list (nothing changed). */
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalParamListA(ZERA_HPACKET hPacket, Param *pList, BOOL8 boChangedOnly);
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalParamListW(ZERA_HPACKET hPacket, Param *pList, BOOL8 boChangedOnly);
/* Reads one parameter into *pstParam. Without boReplace the destination's old
 * contents are overwritten, not freed; with it they are freed. On failure the
 * destination is unchanged: 1028 null destination, 2056 type or kind out of
 * range, 1034 a name block that is not "name NUL text NUL", or the code of
 * the failing read. */
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalParamA(ZERA_HPACKET hPacket, Param *pstParam, BOOL8 boReplace);
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalParamW(ZERA_HPACKET hPacket, Param *pstParam, BOOL8 boReplace);
/* Reads a list: after the record count, a new array replaces (and frees) the
 * list *ppList held; the caller owns it. Whatever happens after that, *ppList
 * is an ordinary list (the records read so far, then a terminator) that can
 * be walked, extended and deleted. False with the code of the failing read:
 * 1032 short, 2056/1034 as for one parameter, 1034 for a record without a
 * name before the last, 1026 memory (when the array itself cannot be had,
 * *ppList is left as it was). */
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalParamListA(ZERA_HPACKET hPacket, Param **ppList);
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalParamListW(ZERA_HPACKET hPacket, Param **ppList);

#ifdef __cplusplus
}
#endif

#endif /* ZERA_MARSHAL_H */
