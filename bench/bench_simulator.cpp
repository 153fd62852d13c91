// The simulated detector at three inputs of 100,000 pulses per second each:
// one 100 ms exposure tick (Poisson draw, channel sampling, channel access),
// against a plain write of the same number of bytes. core_percent is the
// part of one core (in %) the simulation takes in real time.
#include "Simulator.h"
#include "Uryv.h"

#include <benchmark/benchmark.h>

namespace {
constexpr double kRate = 100000;
constexpr double kTick = 0.1; // s
constexpr int64_t kPulsesPerTick = static_cast<int64_t>(3 * kRate * kTick);

double fakeNow = 46000;
double FakeClock() { return fakeNow; }

// The floor: as many single-byte writes into the data memory as the tick
// adds pulses, at scattered places.
void BM_PlainByteWrite(benchmark::State &state)
{
    uint32_t at = 0;
    for (auto _ : state) {
        for (int64_t i = 0; i < kPulsesPerTick; ++i) {
            at = (at + 40503u) & (DataMemorySize - 1);
            DataMemory[at] = static_cast<uint8_t>(i);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPulsesPerTick);
}

// Argument: ChannelCount. At 1024 channels each input owns its planes (the
// pulses are summed per channel); at 4096 with three inputs the inputs
// share planes and every pulse is a read and a write of its channel.
void BM_SimulatorTick(benchmark::State &state)
{
    ResetCoreState();
    Settings = DefaultSettings();
    Settings.ChannelCount = static_cast<int32_t>(state.range(0));
    Settings.InputCount = 3;
    DataFromMemory = 1;
    SetNowProvider(&FakeClock);
    for (int i = 0; i < 3; ++i) {
        Settings.Running[i] = 1;
        Settings.StartTime[i] = fakeNow;
        Settings.ExposurePreset[i] = 1e6;
    }
    std::vector<device::EmissionLine> lines;
    device::BuiltinSourceLines("mix", lines);
    device::Simulator sim(lines, kRate, 1);
    sim.Step(); // builds the table
    for (auto _ : state) {
        fakeNow += kTick / 86400;
        sim.Step();
        // Keep the counters far from saturation over long runs.
        if (ReadChannel(0, 1) > (1 << 30))
            std::fill(std::begin(DataMemory), std::end(DataMemory), 0);
    }
    state.SetItemsProcessed(state.iterations() * kPulsesPerTick);
    // CPU seconds per 100 simulated seconds (printed with an "s").
    state.counters["core_percent"] = benchmark::Counter(double(state.iterations()) * kTick / 100,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    SetNowProvider(nullptr);
}
} // namespace

BENCHMARK(BM_PlainByteWrite);
BENCHMARK(BM_SimulatorTick)->Arg(1024)->Arg(4096)->Arg(16384);
BENCHMARK_MAIN();
