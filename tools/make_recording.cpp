// Writes a sound file (WAV, or FLAC by its extension) holding what a
// scintillation detector's shaped output would put on a sound card's line
// input: pulses with heights from a built-in source's spectrum (the
// simulated detector's response), Poisson arrivals, noise and a drifting
// baseline. `ryv_demo --audio=FILE` measures it like a live input.
//
//   make_recording OUT [--source cs137] [--seconds 60] [--cps 500]
//                      [--sample-rate 192000] [--channels 1|2] [--negative]
//                      [--noise 0.001] [--shape-us 20] [--seed 1]
//
// Heights map onto full scale as the simulated detector's energies do:
// full scale is 1600 keV, so the Cs-137 line at 661.66 keV tops at 41.4 %.
// With two channels the right one carries the same source independently.
#include "device/PulseTrain.h"
#include "device/Simulator.h"

#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
int Usage()
{
    std::fprintf(stderr, "usage: make_recording OUT [--source NAME] [--seconds S] [--cps N] [--sample-rate HZ]\n"
                         "                      [--channels 1|2] [--negative] [--noise RMS] [--shape-us US] [--seed N]\n");
    return 2;
}
} // namespace

int main(int argc, char **argv)
{
    std::string out, source = "cs137";
    double seconds = 60, cps = 500, noise = 0.001, shapeUs = 20;
    int sampleRate = 192000, channels = 1;
    bool negative = false;
    unsigned long long seed = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--negative")
            negative = true;
        else if (a == "--source" && hasValue)
            source = argv[++i];
        else if (a == "--seconds" && hasValue)
            seconds = std::atof(argv[++i]);
        else if (a == "--cps" && hasValue)
            cps = std::atof(argv[++i]);
        else if (a == "--sample-rate" && hasValue)
            sampleRate = std::atoi(argv[++i]);
        else if (a == "--channels" && hasValue)
            channels = std::atoi(argv[++i]);
        else if (a == "--noise" && hasValue)
            noise = std::atof(argv[++i]);
        else if (a == "--shape-us" && hasValue)
            shapeUs = std::atof(argv[++i]);
        else if (a == "--seed" && hasValue)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (out.empty() && !a.starts_with("--"))
            out = a;
        else
            return Usage();
    }
    std::vector<device::EmissionLine> lines;
    if (out.empty() || !device::BuiltinSourceLines(source, lines) || !(seconds > 0) || seconds > 3600 ||
        !(cps > 0) || sampleRate < 8000 || sampleRate > 384000 || (channels != 1 && channels != 2) ||
        !(noise >= 0) || !(shapeUs > 0))
        return Usage();

    const std::vector<double> weights = device::DetectorResponse(lines, 4096, device::ShapingFactor(1));
    std::mt19937_64 rng(seed);
    std::vector<device::SynthPulse> pulses;
    for (int c = 0; c < channels; ++c)
        device::PoissonPulses(cps, seconds, static_cast<uint8_t>(c), weights, rng, pulses);
    device::SynthSignal signal;
    signal.sampleRate = sampleRate;
    signal.channels = channels;
    signal.seconds = seconds;
    signal.shapeSeconds = shapeUs * 1e-6;
    signal.noise = noise;
    signal.baseline = 0.002;
    signal.drift = 0.002;
    signal.driftPeriod = 7;
    signal.negative[0] = signal.negative[1] = negative;
    const std::vector<int16_t> samples = device::ToInt16(device::RenderPulses(signal, pulses, seed + 1));

    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    const bool flac = out.size() > 5 && (out.ends_with(".flac") || out.ends_with(".FLAC"));
    info.format = (flac ? SF_FORMAT_FLAC : SF_FORMAT_WAV) | SF_FORMAT_PCM_16;
    SNDFILE *f = sf_open(out.c_str(), SFM_WRITE, &info);
    if (!f) {
        std::fprintf(stderr, "make_recording: %s: %s\n", out.c_str(), sf_strerror(nullptr));
        return 1;
    }
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / static_cast<size_t>(channels));
    const bool ok = sf_writef_short(f, samples.data(), frames) == frames;
    if (sf_close(f) != 0 || !ok) {
        std::fprintf(stderr, "make_recording: %s: the file could not be written completely\n", out.c_str());
        return 1;
    }
    std::printf("%s: %zu pulses, %.0f s at %d Hz, %d channel(s)\n", out.c_str(), pulses.size(), seconds, sampleRate,
                channels);
    return 0;
}
