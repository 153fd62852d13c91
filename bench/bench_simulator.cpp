// The simulated detector at 100,000 (or 1,000,000) pulses per second per
// input: one 100 ms exposure tick (Poisson arrivals, dead time and pile-up,
// channel sampling, channel access), pulse by pulse where a tick brings
// fewer pulses than the input has channels and by the laws otherwise,
// against a plain write of as many bytes as three inputs add. core_percent
// is the part of one core (in %) the simulation takes in real time.
#include "device/Simulator.h"
#include "core/Uryv.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <iterator>
#include <vector>

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

// Arguments: ChannelCount, InputCount, pulses per second. The configurations
// the default interface (ISA, the other conversion type) allows.
void BM_SimulatorTick(benchmark::State &state)
{
    ResetCoreState();
    Settings = DefaultSettings();
    Settings.ChannelCount = static_cast<int32_t>(state.range(0));
    Settings.InputCount = static_cast<int32_t>(state.range(1));
    const double rate = static_cast<double>(state.range(2));
    const int64_t pulsesPerTick = static_cast<int64_t>(Settings.InputCount * rate * kTick);
    DataFromMemory = 1;
    SetNowProvider(&FakeClock);
    SetMonotonicProvider(&FakeClock);
    for (int i = 0; i < 3; ++i) {
        Settings.Running[i] = 1;
        Settings.StartTime[i] = fakeNow;
        Settings.ExposurePreset[i] = 1e6;
    }
    std::vector<device::EmissionLine> lines;
    device::BuiltinSourceLines("mix", lines);
    device::Simulator sim(lines, rate, 1);
    sim.Begin();
    std::vector<int32_t> first;
    sim.Sample(1, first); // builds the table
    const auto tallest = static_cast<int32_t>(device::ChannelOfEnergy(59.54, Settings.ChannelCount));
    for (auto _ : state) {
        fakeNow += kTick / 86400;
        ExposureTick();
        sim.Step();
        // Keep the counters far from saturation over long runs.
        if (ReadChannel(tallest, 1) > (1 << 30))
            std::fill(std::begin(DataMemory), std::end(DataMemory), 0);
    }
    state.SetItemsProcessed(state.iterations() * pulsesPerTick);
    // CPU seconds per 100 simulated seconds (printed with an "s").
    state.counters["core_percent"] = benchmark::Counter(double(state.iterations()) * kTick / 100,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    SetNowProvider(nullptr);
}
} // namespace

BENCHMARK(BM_PlainByteWrite);
BENCHMARK(BM_SimulatorTick)
    ->Args({1024, 3, 100000})
    ->Args({4096, 1, 100000})
    ->Args({16384, 1, 100000})
    ->Args({16384, 1, 1000000});
BENCHMARK_MAIN();
