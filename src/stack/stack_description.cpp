// stack/stack_description.cpp - the level-marshalling hook of entry slot 0:
// one packet that describes a level and every level above it.
//
// The hook climbs through slot 0 of each next level to the topmost one,
// which starts the packet with the count byte; on the way back down each
// level appends its own entry, so the entries run from the top down. A level
// whose parameters carry the levels-changed mark hands the mark to the level
// above and asks it for a full description: after levels came or went, a
// description that carried only changed values would leave the reader with
// levels it has never seen in full.
#include "stack/stack.h"

namespace {

bool LevelsChanged(const StackHandle *h) {
    return h->pstStackParams != nullptr && (h->pstStackParams[0].u8ChangeFlags & ZERA_CHANGE_LEVELS) != 0;
}

// h's entry: its level record, its status and its name in its own width.
bool AppendEntry(zera::MarshalPacket *p, StackHandle *h, bool changedOnly) {
    if (!zera::MarshalStackLevel(p, h, changedOnly) || !zera::PutUnit(p, &h->dwStatus, 4)) return false;
    if (h->boWide) {
        auto name = zera::EntryOf<zera::PfnComponentNameW>(h, zera::kEntryComponentNameW);
        return name != nullptr && zera::MarshalWideString(p, name(h, h->u8Level));
    }
    auto name = zera::EntryOf<zera::PfnComponentNameA>(h, zera::kEntryComponentNameA);
    return name != nullptr && zera::MarshalString(p, name(h, h->u8Level));
}

// The packet of the levels above h, or a new one holding the count byte when
// h is the topmost level. Null on failure; nothing is left behind then.
zera::MarshalPacket *DescribeLevelsAbove(StackHandle *h, uint32_t boChangedOnly, uint8_t u8Count) {
    StackHandle *next = ZERA_hHandleGetNextLevel(h);
    if (next == nullptr) {
        zera::MarshalPacket *p = zera::ToPacket(ZERA_hMarshalPacketCreate(nullptr, 0));
        if (p != nullptr && !zera::PutUnit(p, &u8Count, 1)) {
            ZERA_boMarshalPacketDelete(p);
            return nullptr;
        }
        return p;
    }
    if (!ZERA_boHandleCheck(next, 1)) return nullptr;
    if (LevelsChanged(h)) {
        zera::MarkLevelsChanged(next);
        boChangedOnly &= ~0xFFu;
    }
    auto describe = zera::EntryOf<ZERA_PFN_MARSHAL_LEVEL>(next, zera::kEntryMarshalLevel);
    if (describe == nullptr) return nullptr;
    return zera::ToPacket(describe(next, boChangedOnly, static_cast<uint8_t>(u8Count + 1)));
}

}  // namespace

namespace zera {

ZERA_HPACKET ZERA_CALL MarshalLevelHook(StackHandle *h, uint32_t boChangedOnly, uint8_t u8Count) {
    if (h == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    MarshalPacket *p = DescribeLevelsAbove(h, boChangedOnly, u8Count);
    if (p == nullptr) return nullptr;
    // A level with the levels-changed mark is written in full by the list
    // writer itself, whatever boChangedOnly says.
    if (!AppendEntry(p, h, (boChangedOnly & 0xFFu) != 0)) {
        ZERA_boMarshalPacketDelete(p);  // stores no code for a packet
        return nullptr;
    }
    return p;
}

}  // namespace zera
