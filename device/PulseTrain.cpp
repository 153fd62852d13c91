#include "device/PulseTrain.h"

#include "device/Simulator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace device {

double PulseShape(double t, double shapeSeconds)
{
    if (t <= 0 || shapeSeconds <= 0)
        return 0;
    const double u = t / shapeSeconds;
    return 0.25 * u * u * std::exp(2.0 - u);
}

std::vector<float> RenderPulses(const SynthSignal &signal, const std::vector<SynthPulse> &pulses, uint64_t seed)
{
    const int channels = std::clamp(signal.channels, 1, 2);
    const double rate = signal.sampleRate;
    const size_t frames = static_cast<size_t>(std::max(0.0, signal.seconds * rate));
    std::vector<double> acc(frames * static_cast<size_t>(channels), 0.0);
    // The shape has fallen below 1e-3 of its top after 16 time constants.
    const double length = 16 * signal.shapeSeconds;
    for (const SynthPulse &p : pulses) {
        if (p.channel >= channels)
            continue;
        const double sign = signal.negative[p.channel] ? -1.0 : 1.0;
        const int64_t first = static_cast<int64_t>(std::ceil(p.time * rate));
        const int64_t last = static_cast<int64_t>(std::floor((p.time + length) * rate));
        for (int64_t i = std::max<int64_t>(first, 0); i <= last && i < static_cast<int64_t>(frames); ++i)
            acc[static_cast<size_t>(i) * static_cast<size_t>(channels) + p.channel] +=
                sign * p.height * PulseShape(static_cast<double>(i) / rate - p.time, signal.shapeSeconds);
    }
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> noise(0.0, signal.noise);
    std::vector<float> out(acc.size());
    const double top = 1.0 - 1.0 / 32768.0;
    for (size_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / rate;
        const double base =
            signal.baseline + signal.drift * std::sin(2 * std::numbers::pi * t / std::max(signal.driftPeriod, 1e-3));
        for (int c = 0; c < channels; ++c) {
            const size_t i = f * static_cast<size_t>(channels) + static_cast<size_t>(c);
            const double v = acc[i] + base + (signal.noise > 0 ? noise(rng) : 0.0);
            out[i] = static_cast<float>(std::clamp(v, -1.0, top));
        }
    }
    return out;
}

std::vector<int16_t> ToInt16(const std::vector<float> &samples)
{
    std::vector<int16_t> out(samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        out[i] = static_cast<int16_t>(std::clamp(std::lround(samples[i] * 32768.0), -32768L, 32767L));
    return out;
}

void PoissonPulses(double rate, double seconds, uint8_t channel, const std::vector<double> &weights, std::mt19937_64 &rng,
                   std::vector<SynthPulse> &out)
{
    AliasTable table;
    table.Build(weights);
    if (table.Empty() || !(rate > 0))
        return;
    std::exponential_distribution<double> gap(rate);
    std::uniform_real_distribution<double> within(0.0, 1.0);
    const double bins = static_cast<double>(table.Size());
    for (double t = gap(rng); t < seconds; t += gap(rng)) {
        const double h = (table.Sample(rng()) + within(rng)) / bins;
        out.push_back({t, h, channel});
    }
}

} // namespace device
