// osal/linux/module_identity.cpp - which loaded module a handle or an
// address belongs to: the loader's link_map entries (dlinfo, dladdr1).
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1  // dladdr1, dlinfo
#endif
#include <dlfcn.h>
#include <link.h>

#include "osal/posix/posix_system.h"

namespace osal {

const void *ModuleSelf(void *dl) {
    link_map *self = nullptr;
    if (dlinfo(dl, RTLD_DI_LINKMAP, &self) != 0) return nullptr;
    return self;
}

const void *ModuleOwning(const void *address) {
    Dl_info info;
    void *owner = nullptr;
    if (dladdr1(address, &info, &owner, RTLD_DL_LINKMAP) == 0) return nullptr;
    return owner;
}

}  // namespace osal
