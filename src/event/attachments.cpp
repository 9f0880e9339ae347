// event/attachments.cpp - the parameter lists attached to an event: finding
// or making the node for a level and selector, and attaching a value of a
// stack parameter.
#include <cstdarg>

#include "event/event.h"
#include "param/param.h"

namespace {

bool NodeMatches(const Attachment *node, uint8_t level, uint8_t selector, bool above) {
    const bool levelMatches = above ? node->u8Level > level : node->u8Level == level;
    return levelMatches && static_cast<uint8_t>(node->u8Selector & 1u) == selector;
}

// Whether any node of the event holds a parameter.
bool CarriesParams(const Event *event) {
    for (const Attachment *node = event->pstAttachments; node != nullptr; node = node->pstNext) {
        if (zera::CountParams(node->pParList) != 0) return true;
    }
    return false;
}

// Takes the value of a stack parameter's type off the argument list; false
// for a type that has no value.
bool NextValue(va_list &args, uint32_t type, ParamData *value) {
    value->qw = 0;
    switch (type) {
        case ZERA_PARAM_STRING: value->pv = va_arg(args, void *); return true;
        case ZERA_PARAM_DWORD:
        case ZERA_PARAM_DWORD2: value->dw = va_arg(args, uint32_t); return true;
        case ZERA_PARAM_REAL: value->r = va_arg(args, double); return true;
        default: return false;
    }
}

// Both attach operations; `args` holds the value. Everything that can be
// refused is refused before the event is touched, so that only a failed
// allocation can leave a new, empty node behind.
bool AttachParam(bool wide, StackHandle *h, Event *event, uint8_t level, uint8_t selector, const void *name,
                 va_list &args) {
    if (event == nullptr || level < event->u8Level || selector > ZERA_SELECTOR_MAX || zera::IsEmptyName(wide, name)) {
        return zera::Fail(OSAL_ERR_INVALID_ARG);
    }
    // Found exactly as a read of the level's parameters finds it (the same
    // codes when it is not there).
    const Param *stackParam = wide ? ZERA_pstGetStackParamW(h, level, static_cast<const WCHAR16 *>(name))
                                   : ZERA_pstGetStackParamA(h, level, static_cast<const char *>(name));
    if (stackParam == nullptr) return false;
    ParamData value;
    const bool mixesWidths = (event->boWideAttach != 0) != wide && CarriesParams(event);
    if ((stackParam->u8Attributes & ZERA_ATTR_ATTACHABLE) == 0 || mixesWidths ||
        !NextValue(args, stackParam->dwType, &value)) {
        return zera::Fail(OSAL_ERR_INVALID_ARG);
    }
    event->boWideAttach = wide ? 1 : 0;
    Attachment **link = ZERA_ppstCheckParListA(event, level, selector, 1, 0);
    Attachment *node = *link;
    if (node == nullptr) return false;
    uint32_t count = zera::CountParams(node->pParList);
    ParamValue **cursor = nullptr;
    return zera::AddParam(wide, true, 0, &node->pParList, &count, &cursor, stackParam->dwType, stackParam->dwAccess,
                          0, 0, false, name, value);
}

}  // namespace

extern "C" {

ZERA_API Attachment **ZERA_CALL ZERA_ppstCheckParListA(Event *pstEvent, uint8_t u8Level, uint8_t u8Selector,
                                                       BOOL8 boCreate, BOOL8 boAbove) {
    if (pstEvent == nullptr) {
        OSAL_vSetLastError(OSAL_ERR_INVALID_ARG);
        return nullptr;
    }
    Attachment **link = &pstEvent->pstAttachments;
    while (*link != nullptr) {
        if (NodeMatches(*link, u8Level, u8Selector, boAbove != 0)) return link;
        link = &(*link)->pstNext;
    }
    if (!boCreate) return link;

    auto *node = static_cast<Attachment *>(zera::AllocZero(1, sizeof(Attachment)));
    if (node == nullptr || !zera::CreateParamList(&node->pParList)) {
        zera::Free(node);
        OSAL_vSetLastError(OSAL_ERR_NO_MEMORY);
        return link;
    }
    node->u8Level = u8Level;
    node->u8Selector = u8Selector != 0 ? 1 : 0;
    node->pstNext = pstEvent->pstAttachments;
    pstEvent->pstAttachments = node;
    return &pstEvent->pstAttachments;
}

ZERA_API BOOL8 ZERA_CDECL ZERA_boAttachParamA(StackHandle *h, Event *pstEvent, uint8_t u8Level,
                                              uint8_t u8Selector, const char *pszName, ...) {
    va_list args;
    va_start(args, pszName);
    const bool attached = AttachParam(false, h, pstEvent, u8Level, u8Selector, pszName, args);
    va_end(args);
    return attached ? 1 : 0;
}

ZERA_API BOOL8 ZERA_CDECL ZERA_boAttachParamW(StackHandle *h, Event *pstEvent, uint8_t u8Level,
                                              uint8_t u8Selector, const WCHAR16 *pwszName, ...) {
    va_list args;
    va_start(args, pwszName);
    const bool attached = AttachParam(true, h, pstEvent, u8Level, u8Selector, pwszName, args);
    va_end(args);
    return attached ? 1 : 0;
}

}  // extern "C"

ZERA_EXPORT_ALIAS(Attachment **, ZERA_ppstCheckParListW, ZERA_ppstCheckParListA,
                  (Event * pstEvent, uint8_t u8Level, uint8_t u8Selector, BOOL8 boCreate, BOOL8 boAbove))
