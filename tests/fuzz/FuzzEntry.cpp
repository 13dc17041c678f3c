// libFuzzer's entry point for the one target FWUPGRADE_FUZZ_TARGET names (set per program).
#include "tests/fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return FWUPGRADE_FUZZ_TARGET(data, size);
}
