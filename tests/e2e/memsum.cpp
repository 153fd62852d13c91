// Prints the total count of one input in a data-memory file, read with the
// layout of a settings file: memsum SETTINGS MEMORY INPUT.
#include "core/Uryv.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    std::string err;
    FILE *f = argc == 4 ? std::fopen(argv[2], "rb") : nullptr;
    if (!f || LoadSettings(argv[1], err) != LoadResult::FromFile ||
        std::fread(DataMemory, 1, DataMemorySize, f) != size_t(DataMemorySize))
        return 2;
    std::fclose(f);
    DataFromMemory = 1;
    long long total = 0;
    for (int32_t c = 0; c < Settings.ChannelCount; ++c)
        total += ReadChannel(c, std::atoi(argv[3]));
    std::printf("%lld\n", total);
    return 0;
}
