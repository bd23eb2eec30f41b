// One fuzz target as a libFuzzer entry point (TARSA_FUZZ_TARGET names it).
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return tarsa::fuzz::TARSA_FUZZ_TARGET(data, size);
}
