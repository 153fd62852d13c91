#include "device/AudioSource.h"
#include "device/PulseTrain.h"
#include "core/Uryv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using device::PulseEvent;
using device::PulseKind;
using device::SynthPulse;

constexpr int kRate = 192000;

struct Moments {
    double mean = 0, fwhm = 0;
    size_t n = 0;
};
// Mean and Gaussian FWHM (2.3548 standard deviations) of the values within
// `window` of `around`.
Moments Of(const std::vector<double> &v, double around, double window)
{
    Moments m;
    double s = 0, s2 = 0;
    for (double x : v)
        if (std::fabs(x - around) < window) {
            s += x;
            s2 += x * x;
            ++m.n;
        }
    m.mean = s / double(m.n);
    m.fwhm = 2.3548 * std::sqrt(std::max(0.0, s2 / double(m.n) - m.mean * m.mean));
    return m;
}

// Heights of a Gaussian line, arrivals at least `gap` seconds apart plus a
// Poisson wait at `rate`.
std::vector<SynthPulse> Line(double centre, double fwhm, double rate, double gap, double seconds, uint8_t channel,
                             std::mt19937_64 &rng)
{
    std::normal_distribution<double> height(centre, fwhm / 2.3548);
    std::exponential_distribution<double> wait(rate);
    std::vector<SynthPulse> out;
    for (double t = 0.05 + wait(rng); t < seconds - 0.01; t += gap + wait(rng))
        out.push_back({t, height(rng), channel});
    return out;
}

// The whole recording through the source's processing path, as 16-bit
// frames in blocks of 10 ms.
std::vector<PulseEvent> Process(device::AudioSource &src, const std::vector<int16_t> &frames)
{
    const size_t block = kRate / 100 * static_cast<size_t>(src.Channels());
    for (size_t i = 0; i < frames.size(); i += block)
        src.ProcessFrames(frames.data() + i, std::min(block, frames.size() - i) / static_cast<size_t>(src.Channels()),
                          device::SampleFormat::S16);
    device::AudioSource::Batch batch;
    src.Drain(batch);
    return batch.events;
}

// Both polarities at once (left positive, right negative, polarity found
// by itself), noise, and a baseline offset that drifts by more than the
// line is wide: the line comes out where and as wide as it went in.
TEST(Audio, LineHeightAndWidthThroughNoiseDriftAndEitherPolarity)
{
    std::mt19937_64 rng(11);
    const double seconds = 30;
    std::vector<SynthPulse> pulses = Line(0.40, 0.028, 150, 1e-3, seconds, 0, rng);
    const std::vector<SynthPulse> right = Line(0.25, 0.018, 150, 1e-3, seconds, 1, rng);
    pulses.insert(pulses.end(), right.begin(), right.end());
    device::SynthSignal sig;
    sig.seconds = seconds;
    sig.shapeSeconds = 40e-6;
    sig.noise = 0.002;
    sig.baseline = 0.03;
    sig.drift = 0.04;
    sig.driftPeriod = 5;
    sig.negative[1] = true;
    device::AudioSource src(kRate, 2, device::PulseSettings{});
    const std::vector<PulseEvent> events = Process(src, device::ToInt16(device::RenderPulses(sig, pulses, 5)));

    std::vector<double> measured[2], source[2];
    for (const SynthPulse &p : pulses)
        source[p.channel].push_back(p.height);
    for (const PulseEvent &e : events)
        if (e.kind == PulseKind::Accepted)
            measured[e.channel].push_back(e.height);
    for (int c = 0; c < 2; ++c) {
        const Moments want = Of(source[c], c == 0 ? 0.40 : 0.25, 0.1);
        const Moments got = Of(measured[c], want.mean, 0.1);
        SCOPED_TRACE(c);
        EXPECT_GT(got.n, want.n * 95 / 100);
        EXPECT_NEAR(got.mean / want.mean, 1.0, 0.005);
        EXPECT_NEAR(got.fwhm / want.fwhm, 1.0, 0.05);
    }
}

// A known rate of single pulses with pile-up pairs and pulses too high for
// the converter among them: the pairs and the clipped pulses are rejected
// and counted, the singles kept. Then Poisson arrivals at a rate where a
// fifth of the time is dead: the pulses taken per second of live time are
// the rate that arrived.
TEST(Audio, PileUpAndClippingRejectedAndLiveTimeGivesTheTrueRate)
{
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<SynthPulse> pulses;
    int pairs = 0, clipped = 0, singles = 0;
    const double seconds = 20;
    for (double t = 0.05; t < seconds - 0.01; t += 2e-3) {
        const double h = 0.3 + 0.3 * u(rng);
        if (pulses.size() % 5 == 3) {
            // The second pulse 10 to 60 samples later and 0.3 to 1 times as high.
            pulses.push_back({t, h, 0});
            pulses.push_back({t + (10 + 50 * u(rng)) / kRate, h * (0.3 + 0.7 * u(rng)), 0});
            ++pairs;
        } else if (pulses.size() % 17 == 5) {
            pulses.push_back({t, 1.05 + 0.5 * u(rng), 0});
            ++clipped;
        } else {
            pulses.push_back({t, h, 0});
            ++singles;
        }
    }
    device::SynthSignal sig;
    sig.channels = 1;
    sig.seconds = seconds;
    sig.noise = 0.002;
    device::AudioSource paired(kRate, 1, device::PulseSettings{});
    int kinds[3] = {};
    for (const PulseEvent &e : Process(paired, device::ToInt16(device::RenderPulses(sig, pulses, 9))))
        ++kinds[static_cast<int>(e.kind)];
    // The first pulses teach the shape and are not measured.
    EXPECT_NEAR(kinds[int(PulseKind::Accepted)], singles, 0.02 * singles);
    EXPECT_NEAR(kinds[int(PulseKind::Rejected)], pairs, 0.02 * pairs);
    EXPECT_NEAR(kinds[int(PulseKind::Clipped)], clipped, 0.02 * clipped);

    const double rate = 600;
    pulses.clear();
    device::PoissonPulses(rate, seconds, 0, std::vector<double>(100, 1.0), rng, pulses);
    std::erase_if(pulses, [](const SynthPulse &p) { return p.height < 0.05; });
    device::AudioSource poisson(kRate, 1, device::PulseSettings{});
    const std::vector<PulseEvent> events = Process(poisson, device::ToInt16(device::RenderPulses(sig, pulses, 4)));
    // From the tenth pulse on, once the shape is known.
    const int64_t from = events.at(10).position, to = static_cast<int64_t>((seconds - 0.01) * kRate);
    int64_t taken = 0, dead = 0;
    for (const PulseEvent &e : events)
        if (e.position >= from && e.position < to) {
            ++taken;
            dead += e.dead;
        }
    const double live = double(to - from - dead) / kRate;
    const auto arrived =
        std::count_if(pulses.begin(), pulses.end(), [&](const SynthPulse &p) { return p.time * kRate >= from && p.time * kRate < to; });
    const double trueRate = double(arrived) * kRate / double(to - from);
    EXPECT_GT(double(dead) / double(to - from), 0.15);
    EXPECT_NEAR(double(taken) / live / trueRate, 1.0, 0.02);
}

// The capture path of a sound card, without one: ALSA's file plugin plays a
// raw recording into the capture (its null slave does not pace, so the
// whole file arrives at once). The pulses of the left and right channels
// build the spectra of inputs 1 and 2 while both run.
TEST(Audio, AlsaCaptureThroughTheFilePluginFillsTheRunningInputs)
{
    char dir[] = "/tmp/ryv_alsaXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string raw = std::string(dir) + "/in.raw", conf = std::string(dir) + "/asound.conf";
    std::mt19937_64 rng(21);
    const double seconds = 12;
    std::vector<SynthPulse> pulses = Line(0.40, 0.028, 600, 1e-3, seconds - 1, 0, rng);
    const std::vector<SynthPulse> right = Line(0.60, 0.030, 600, 1e-3, seconds - 1, 1, rng);
    pulses.insert(pulses.end(), right.begin(), right.end());
    device::SynthSignal sig;
    sig.seconds = seconds; // the last second quiet: the plugin repeats its last period at the end
    sig.noise = 0.002;
    const std::vector<float> samples = device::RenderPulses(sig, pulses, 8);
    {
        // The capture asks for 32-bit samples first.
        std::vector<int32_t> s32(samples.size());
        for (size_t i = 0; i < samples.size(); ++i)
            s32[i] = static_cast<int32_t>(std::lround(samples[i] * 32768.0)) * 65536;
        std::ofstream(raw, std::ios::binary).write(reinterpret_cast<const char *>(s32.data()), std::streamsize(s32.size() * 4));
        std::ofstream(conf) << "pcm.ryvtest {\n  type file\n  slave { pcm { type null } }\n  file \"/dev/null\"\n"
                               "  infile \"" << raw << "\"\n  format \"raw\"\n}\n";
    }
    setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);

    ResetCoreState();
    Settings = DefaultSettings();
    Settings.InputCount = 2;
    Settings.ChannelCount = 1024; // two inputs of their own
    DataFromMemory = 1;
    Settings.Running[0] = Settings.Running[1] = 1;
    Settings.ExposurePreset[0] = Settings.ExposurePreset[1] = 1.0;

    std::string error;
    device::AudioOptions options;
    options.name = "ryvtest";
    auto src = device::AudioSource::Open(options, error);
    ASSERT_TRUE(src) << error;
    EXPECT_EQ(src->Rate(), kRate);
    EXPECT_EQ(src->Channels(), 2);
    device::AudioAcquisition feed(*src);
    feed.Step();
    src->Start();
    const int64_t frames = static_cast<int64_t>(seconds * kRate);
    for (int i = 0; i < 2000 && feed.Position() < frames; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        feed.Step();
    }
    Settings.Running[0] = Settings.Running[1] = 0;
    Elapsed[0] = Elapsed[1] = seconds / 86400;
    feed.Step();
    src->Stop();
    ASSERT_GE(feed.Position(), frames);

    // The spectrum's centroid and width (from its second moment) against the
    // same of the spectrum of the heights sent, written into the same input
    // afterwards.
    const auto lineOf = [](int32_t n, double centre) {
        std::vector<double> v;
        for (auto c = static_cast<int32_t>(centre - 60); c <= centre + 60; ++c)
            v.insert(v.end(), static_cast<size_t>(ReadChannel(c, n)), c + 0.5);
        return Of(v, centre, 60);
    };
    for (int n = 1; n <= 2; ++n) {
        SCOPED_TRACE(n);
        const double centre = (n == 1 ? 0.40 : 0.60) * 1024;
        const Moments got = lineOf(n, centre);
        int64_t total = 0;
        for (int32_t c = 0; c < 1024; ++c) {
            total += ReadChannel(c, n);
            WriteChannel(c, n, 0);
        }
        int64_t sent = 0;
        for (const SynthPulse &p : pulses)
            if (p.channel == n - 1 && p.height > 0 && p.height < 1) {
                const auto c = static_cast<int32_t>(p.height * 1024);
                WriteChannel(c, n, ReadChannel(c, n) + 1);
                ++sent;
            }
        const Moments want = lineOf(n, centre);
        EXPECT_NEAR(got.mean / want.mean, 1.0, 0.005);
        EXPECT_NEAR(got.fwhm / want.fwhm, 1.0, 0.05);
        // All but the pulses the shape is learned from.
        EXPECT_NEAR(double(total), double(sent), 0.02 * double(sent));
        EXPECT_EQ(uint64_t(total), feed.Accepted(n));
        EXPECT_GT(feed.DeadSeconds(n), 0.1);
    }

    // A capture device or a file that cannot be opened: one line on stderr
    // and exit code 2, before any window (no display is given).
    const struct {
        const char *args, *line;
    } cases[] = {
        {"--audio=nosuch", "ryv_demo: --audio=nosuch: cannot open the capture device (No such file or directory).\n"},
        {"--audio=none.wav",
         "ryv_demo: --audio=none.wav: cannot read the sound file (System error : No such file or directory).\n"},
        {"--audio=in.raw", "ryv_demo: --audio=in.raw: cannot read the sound file (Format not recognised).\n"},
        {"--audio=ryvtest --audio-rate 1000",
         "ryv_demo: --audio-rate: '1000' is not a whole number from 8000 to 768000.\n"},
        {"--polarity up --audio", "ryv_demo: --polarity: 'up' is not auto, positive or negative.\n"},
        {"--threshold 2", "ryv_demo: --threshold: only with --audio.\n"},
        {"--audio --audio-rate ' 48000'", "ryv_demo: --audio-rate: ' 48000' is not a whole number from 8000 to 768000.\n"},
        {"--audio --threshold '2 '", "ryv_demo: --threshold: '2 ' is not a number from 0.05 to 50.\n"},
        {"--audio --polarity auto --polarity negative", "ryv_demo: --polarity: given more than once.\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        const std::string cmd = std::string("cd ") + dir + " && env -u DISPLAY QT_QPA_PLATFORM=xcb " RYV_DEMO_EXE " " +
                                c.args + " 2>err.txt >/dev/null";
        EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 2);
        std::ifstream in(std::string(dir) + "/err.txt");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.line);
    }
    std::system((std::string("rm -rf ") + dir).c_str());
}

} // namespace

namespace {

int64_t Total(int32_t n)
{
    int64_t s = 0;
    for (int32_t c = 0; c < Settings.ChannelCount; ++c)
        s += ReadChannel(c, n);
    return s;
}

// Time lost in an overrun is dead time of the running inputs and shows in
// the overrun count; a device gone stops its own running inputs, once, and
// every count stays.
TEST(Audio, OverrunIsDeadTimeAndALostDeviceStopsItsInputsKeepingTheCounts)
{
    ResetCoreState();
    Settings = DefaultSettings();
    Settings.InputCount = 3;
    Settings.ChannelCount = 1024;
    DataFromMemory = 1;
    for (int i = 0; i < 3; ++i) {
        Settings.Running[i] = 1;
        Settings.ExposurePreset[i] = 1.0;
    }
    std::mt19937_64 rng(5);
    device::SynthSignal sig;
    sig.seconds = 2;
    sig.noise = 0.001;
    const std::vector<int16_t> frames = device::ToInt16(device::RenderPulses(sig, Line(0.5, 0.03, 300, 1e-3, 2, 0, rng), 1));
    device::AudioSource src(kRate, 2, device::PulseSettings{});
    device::AudioAcquisition feed(src);
    feed.Step();
    src.ProcessFrames(frames.data(), frames.size() / 2, device::SampleFormat::S16);
    src.MarkLost(kRate / 2);
    EXPECT_EQ(feed.Step(), device::AudioAcquisition::Status::Running);
    EXPECT_EQ(feed.Overruns(), 1u);
    EXPECT_DOUBLE_EQ(feed.DeadSeconds(2), 0.5); // a quiet channel: only the lost time
    EXPECT_GT(feed.DeadSeconds(1), 0.55);
    EXPECT_EQ(feed.DeadSeconds(3), 0.0);
    const int64_t counts = Total(1);
    EXPECT_GT(counts, 300);
    EXPECT_EQ(uint64_t(counts), feed.Accepted(1));

    src.Fail("No such device");
    EXPECT_EQ(feed.Step(), device::AudioAcquisition::Status::DeviceLost);
    EXPECT_EQ(feed.Failure(), "No such device");
    EXPECT_EQ(Settings.Running[0], 0);
    EXPECT_EQ(Settings.Running[1], 0);
    EXPECT_EQ(Settings.Running[2], 1); // not fed by the card
    EXPECT_EQ(Total(1), counts);
    EXPECT_EQ(feed.Step(), device::AudioAcquisition::Status::Running);
}

} // namespace
