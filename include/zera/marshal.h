/*
 * zera/marshal.h - marshal packets and the tagless wire encoding of scalars,
 * streams, strings, parameters and parameter lists, events, stack levels and
 * statistics, and the stack description packet.
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

/* ---- Events, stack levels and statistics --------------------------------------------
 *
 * An event: Byte type, Byte level, Byte error, DWord area size S, DWord
 * identifier, TimeVal time stamp, DWord flags; its attachments (Byte level,
 * Byte selector, parameter list) in list order and a Byte 0; then by type:
 * data events (0-2) QWord u64Aux1, QWord u64Aux2, Byte u8Options, Byte
 * u8Aux3, Byte u8QueueOp, Word u16RepeatCount, TimeVal stPeriod and the data
 * as a byte stream of S bytes; item lists (3) DWord dwItemCount and, unless
 * it is 0, every item of the area (Byte kind, DWord value for kind 0, QWord
 * for kinds 1 and 2); intervals (4) TimeVal stInterval. The owner fields are
 * not carried. */

/* Writes pstEvent with its attachments, narrow or wide by its boWideAttach;
 * their change marks are cleared. Refused before anything is written: false
 * without a code for a null event; 2056 for a type other than 0 to 4 or an
 * item kind other than 0 to 2; 1034 for an area size above 0x7FFFFFFF, a
 * data or item area that passes the event's own block, or an item whose
 * dwItemSize is not that of its kind (12, or 16) or that does not end
 * within dwItemsSize; 1028 for an attachment of level 0 (its level byte
 * would end the attachments) or without a list, or a missing data or item
 * area. Later failures (1027 null packet, 1026/1034 no room) leave what was
 * written before in the packet. */
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalZERAEvent(ZERA_HPACKET hPacket, Event *pstEvent);
/* Reads an event into *ppstEvent (set to null first); the caller owns it
 * (ZERA_boDeleteEvent). Its attachments are read as wide lists when
 * boWideAttach is set, and stand in the reverse order of the writer's. False
 * without a code for a null address; otherwise false with *ppstEvent null
 * and nothing kept: 2056 a type byte other than 0 to 4 or an item kind
 * other than 0 to 2; 1034 a level above 63 or S above 0x3FFFFFFF, a data
 * stream whose length is not S, an item that would not end within S, an
 * item list with a count of 0 and an S above 0; 1032 a short packet, also
 * before anything is allocated: an S larger than the bytes left for a data
 * event, or than the bytes left could fill with items (5 bytes for 12 of
 * area) for an item list, so that no packet costs much more memory than
 * its own size; 1026 memory; the codes of the parameter-list reader; 1027
 * a null packet. */
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalZERAEvent(ZERA_HPACKET hPacket, Event **ppstEvent, BOOL8 boWideAttach);

/* Writes Byte u8Level and h's stack parameters (all records, or with
 * boChangedOnly the changed ones as ZERA_boMarshalParamListA does), after
 * refreshing their settable bits through h's own entry slot 9 (10 for a
 * wide level) when the slot is filled. h is not checked (a remote level's
 * record may be written too). False with 1028 (null h or no parameter
 * list), 1027 (null packet) or the list writer's code. */
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalStackHandleLevel(ZERA_HPACKET hPacket, StackHandle *h, BOOL8 boChangedOnly);
/* Reads a stack level into a new zeroed record: u8Level, pstStackParams
 * (wide lists when boWide is set) and boWide. The record is a plain
 * container that never passes ZERA_boHandleCheck; the caller owns it and
 * releases it with ZERA_vDeleteStackHandleLevel. On success *ppstLevel is
 * replaced (what it held is not freed). False without a code for a null
 * address; else with 1026 or the reader's code, *ppstLevel unchanged and
 * nothing kept. */
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalStackHandleLevel(ZERA_HPACKET hPacket, StackHandle **ppstLevel,
                                                          BOOL8 boWide);
/* Releases a record made by ZERA_boUnmarshalStackHandleLevel or
 * ZERA_boUnmarshalStackDescriptionEntryA/W: its parameter list and the
 * record. Null is ignored; never pass a live level's handle. */
ZERA_API void ZERA_CALL ZERA_vDeleteStackHandleLevel(StackHandle *pstLevel);

/* A statistics block is the ZERA_STATS_WORDS (14) words that
 * ZERA_boGetStatistics fills: twelve counters, then u16LoadA | u16LoadB << 16
 * and u16LoadAMax | u16LoadBMax << 16. On the wire (56 bytes): the twelve
 * counters as DWords, then the four load figures as Words. The writer stops
 * at the first failing item (1027 null packet, 1028 null block); the reader
 * too, keeping the items read before it in the block. */
ZERA_API BOOL8 ZERA_CALL ZERA_boMarshalStatistics(ZERA_HPACKET hPacket, const uint32_t *pdwStatistics);
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalStatistics(ZERA_HPACKET hPacket, uint32_t *pdwStatistics);

/* ---- The stack description packet --------------------------------------------------------
 *
 * Entry slot 0 of every level holds the level-marshalling hook, called as
 * ZERA_PFN_MARSHAL_LEVEL: it describes level h and every level above it in a
 * new packet that the caller owns (ZERA_boMarshalPacketDelete or
 * ZERA_vRetrieveStackHandleDone). The packet holds a count byte, u8Count plus
 * the number of levels above h (so a caller passing 1 reads the number of
 * entries), then one entry per level from the topmost down to h: the level
 * record (ZERA_boMarshalStackHandleLevel), its dwStatus as a DWord and its
 * component name as a string. With boChangedOnly (low byte) a level's entry
 * carries only the parameters that changed since the last description;
 * after levels were added or removed through h, every level from h up is
 * described in full. Null with 1028 for a null h, 1027 for a level above
 * that fails the check or has an empty slot, or the code of a failed write;
 * nothing is left behind then. The chain must not change meanwhile. */
#define ZERA_ENTRY_MARSHAL_LEVEL 0
typedef ZERA_HPACKET (ZERA_CALL *ZERA_PFN_MARSHAL_LEVEL)(StackHandle *h, uint32_t boChangedOnly, uint8_t u8Count);

/* Reads the next entry of a stack description packet (after its count byte,
 * which ZERA_boUnmarshalByte reads): the level record as
 * ZERA_boUnmarshalStackHandleLevel makes it (narrow lists for A, wide for W),
 * the status word, and the component name (a heap string the caller frees
 * with ZERA_vFree; null when the level has none). The wire form does not
 * depend on the levels' widths, so either reader reads any entry. On
 * success the three outputs are replaced; on failure they are unchanged and
 * nothing is kept: 1028 a null output address, or the reader's code. */
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalStackDescriptionEntryA(ZERA_HPACKET hPacket, StackHandle **ppstLevel,
                                                                uint32_t *pdwStatus, char **ppszName);
ZERA_API BOOL8 ZERA_CALL ZERA_boUnmarshalStackDescriptionEntryW(ZERA_HPACKET hPacket, StackHandle **ppstLevel,
                                                                uint32_t *pdwStatus, WCHAR16 **ppwszName);

#ifdef __cplusplus
}
#endif

#endif /* ZERA_MARSHAL_H */
