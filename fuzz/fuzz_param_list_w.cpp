// fuzz/fuzz_param_list_w.cpp - wide parameter lists read from arbitrary bytes.
#include "fuzz_param_list_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return zf::FuzzParamList(data, size, true);
}
