// Synthetic detector signals: shaped pulses of known heights and arrival
// times on a baseline with noise and drift, as a sound card would record
// them. The recording tool writes them into sound files; the pulse-height
// processing is measured against them.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace device {

struct SynthPulse {
    double time = 0;     // seconds from the start, between samples as it falls
    double height = 0;   // top above the baseline, a fraction of full scale
    uint8_t channel = 0; // 0 left, 1 right
};

struct SynthSignal {
    int sampleRate = 192000;
    int channels = 2;
    double seconds = 1;
    // Time constant of the pulse (an amplifier's CR-RC-RC shape), which
    // tops at twice it.
    double shapeSeconds = 40e-6;
    double noise = 0;        // rms, fraction of full scale
    double baseline = 0;     // offset, fraction of full scale
    double drift = 0;        // amplitude of a slow sine on the baseline
    double driftPeriod = 10; // seconds
    bool negative[2] = {false, false};
};

// The pulse shape at t seconds after the pulse's start: 0 before, 1 at its top.
double PulseShape(double t, double shapeSeconds);

// Interleaved samples, clamped to the converter's range [-1, 1 - 2^-15].
std::vector<float> RenderPulses(const SynthSignal &signal, const std::vector<SynthPulse> &pulses, uint64_t seed);

// 16-bit samples of the same signal, rounded.
std::vector<int16_t> ToInt16(const std::vector<float> &samples);

// Poisson arrivals at `rate` per second over `seconds`, heights drawn from
// `weights` spread over [0, 1) of full scale (bin i covers
// [i, i + 1) / weights.size()), appended to out.
void PoissonPulses(double rate, double seconds, uint8_t channel, const std::vector<double> &weights, std::mt19937_64 &rng,
                   std::vector<SynthPulse> &out);

} // namespace device
