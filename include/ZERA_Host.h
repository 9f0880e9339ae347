/*
 * ZERA_Host.h - the kit for host programs: a ready level 0 in one call.
 *
 * A host needs level 0 ready before it adds anything: its descriptor's link
 * word holding the masked null, its entry table filled with the library's own
 * operations, and an empty parameter list. ZERA_hHostStackCreate does all of
 * that; ZERA_boHostStackDestroy removes every level above and releases it.
 * A host that keeps its own handle setup calls ZERA_vHostDescriptorInit on its
 * descriptor before the level-0 handle is first used.
 * Pure C (C11 and C++17 clean).
 */
#ifndef ZERA_HOST_H
#define ZERA_HOST_H

#include "VOQ_ZERA_Comp.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Prepares a descriptor for a stack with no level above 0: the link word
 * holds the masked null and the level mask has only bit 0. The host's two
 * words of its own are left alone. 1028 for a null descriptor. */
ZERA_API void ZERA_CALL ZERA_vHostDescriptorInit(HostStackDescriptor *pstDesc);

/* Creates a ready level-0 handle. pstDesc is the host's descriptor (it stays
 * the host's, is prepared with ZERA_vHostDescriptorInit and must outlive the
 * stack), or null to have one made that the handle owns: the kit then points
 * pfnLevelContextRelease at its own release. The caller owns the handle and
 * releases it with ZERA_boHostStackDestroy. Null with the code of what failed
 * (1026 for memory); the host's descriptor is untouched when the handle
 * cannot be made. The level's pstUpperInfoBlock stays empty (version 0.0,
 * no flags, no ranges): it takes a level-1 component of major version 0
 * with an open range A; a host that expects another version family fills
 * it before its first add. */
ZERA_API StackHandle *ZERA_CALL ZERA_hHostStackCreate(HostStackDescriptor *pstDesc);

/* Removes every level above level 0 from the top down, then releases the
 * level-0 handle, its name and parameter list, and calls its
 * pfnLevelContextRelease (when set) with its descriptor, which frees a
 * descriptor the kit made. False with 1027 for an invalid handle or one that
 * is not a level 0 with a descriptor; nothing is released then. */
ZERA_API BOOL8 ZERA_CALL ZERA_boHostStackDestroy(StackHandle *h0);

#ifdef __cplusplus
}
#endif

#endif /* ZERA_HOST_H */
