// A detector on a sound card: one second of a stereo capture at 192 kHz
// (32-bit samples, as the capture asks for first) holding a Cs-137 spectrum
// at 2000 pulses per second per channel, through the capture's processing
// path (conversion, baseline, trigger, shape fit, hand-over), against a
// plain pass over the same samples. core_percent is the part of one core
// (in %) the processing takes in real time.
#include "device/AudioSource.h"
#include "device/PulseTrain.h"
#include "device/Simulator.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {
constexpr int kRate = 192000;

const std::vector<int32_t> &Recording()
{
    static const std::vector<int32_t> samples = [] {
        std::vector<device::EmissionLine> lines;
        device::BuiltinSourceLines("cs137", lines);
        const std::vector<double> weights = device::DetectorResponse(lines, 4096, device::ShapingFactor(1));
        std::mt19937_64 rng(1);
        std::vector<device::SynthPulse> pulses;
        device::PoissonPulses(2000, 1.0, 0, weights, rng, pulses);
        device::PoissonPulses(2000, 1.0, 1, weights, rng, pulses);
        device::SynthSignal signal;
        signal.shapeSeconds = 20e-6;
        signal.noise = 0.001;
        const std::vector<int16_t> s16 = device::ToInt16(device::RenderPulses(signal, pulses, 2));
        std::vector<int32_t> s32(s16.size());
        for (size_t i = 0; i < s16.size(); ++i)
            s32[i] = int32_t(s16[i]) * 65536;
        return s32;
    }();
    return samples;
}

void CorePercent(benchmark::State &state)
{
    state.SetItemsProcessed(state.iterations() * kRate * 2);
    // CPU seconds per 100 seconds of sound (printed with an "s").
    state.counters["core_percent"] = benchmark::Counter(double(state.iterations()) / 100,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The floor: every sample read once and summed.
void BM_PlainPass(benchmark::State &state)
{
    const std::vector<int32_t> &s = Recording();
    for (auto _ : state) {
        int64_t sum = 0;
        for (int32_t v : s)
            sum += v;
        benchmark::DoNotOptimize(sum);
    }
    CorePercent(state);
}

// The capture's path in periods of 10 ms, the pulses taken as the GUI
// thread takes them.
void BM_ProcessSecond(benchmark::State &state)
{
    const std::vector<int32_t> &s = Recording();
    device::AudioSource source(kRate, 2, device::PulseSettings{});
    device::AudioSource::Batch batch;
    const size_t period = kRate / 100;
    const auto second = [&] {
        for (size_t f = 0; f < s.size() / 2; f += period)
            source.ProcessFrames(s.data() + 2 * f, period, device::SampleFormat::S32);
        source.Drain(batch);
    };
    second(); // the polarity and the shape are learned before timing
    size_t accepted = 0;
    for (auto _ : state) {
        second();
        for (const device::PulseEvent &e : batch.events)
            accepted += e.kind == device::PulseKind::Accepted;
    }
    CorePercent(state);
    state.counters["accepted_per_s"] = double(accepted) / double(state.iterations());
}
} // namespace

BENCHMARK(BM_PlainPass);
BENCHMARK(BM_ProcessSecond);
BENCHMARK_MAIN();
