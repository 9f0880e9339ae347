// handle/heap.cpp - the heap operations through which components allocate
// and free the blocks that pass between them and the library.
#include "handle/handle.h"

extern "C" {

ZERA_API void *ZERA_CALL ZERA_pvMalloc(size_t dwSize) { return zera::Alloc(dwSize); }

ZERA_API void *ZERA_CALL ZERA_pvCalloc(size_t dwCount, size_t dwSize) { return zera::AllocZero(dwCount, dwSize); }

ZERA_API void *ZERA_CALL ZERA_pvRealloc(void *pv, size_t dwSize) { return zera::Realloc(pv, dwSize); }

ZERA_API void ZERA_CALL ZERA_vFree(void *pv) { zera::Free(pv); }

}  // extern "C"
