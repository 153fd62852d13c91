// The floor the refresh figures are measured against: a plain read of the
// 64 KiB data memory, in the same run.
#pragma once

#include "core/Uryv.h"

#include <benchmark/benchmark.h>

#include <cstdint>

inline void BM_PlainRead64K(benchmark::State &state)
{
    for (auto _ : state) {
        uint64_t sum = 0;
        for (uint8_t b : DataMemory)
            sum += b;
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * DataMemorySize);
}
