// libFuzzer entry: every input goes through fuzzprops::CheckCsvInput; a broken
// property prints what broke and aborts, so the input is kept as a crash.

#include "tests/fuzz/FuzzProperties.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fuzzprops::Failures failures = fuzzprops::CheckCsvInput(data, size);
    if (failures.empty())
        return 0;
    for (const std::string &f : failures)
        std::fprintf(stderr, "PROPERTY FAILED: %s\n", f.c_str());
    std::abort();
}
