#include "device/AudioSource.h"

#include "device/Simulator.h"
#include "core/Uryv.h"

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

namespace device {

namespace {
// ALSA reports its own failures on stderr as well; the program says in one
// line what went wrong instead.
void QuietAlsa(const char *, int, const char *, int, const char *, ...) {}

snd_pcm_t *Pcm(void *p) { return static_cast<snd_pcm_t *>(p); }
SNDFILE *Sound(void *p) { return static_cast<SNDFILE *>(p); }

size_t BytesPerSample(SampleFormat f)
{
    switch (f) {
    case SampleFormat::S16:
        return 2;
    case SampleFormat::S24_3:
        return 3;
    case SampleFormat::S32:
    case SampleFormat::Float:
        return 4;
    }
    return 4;
}

bool EndsWith(const std::string &s, const char *suffix)
{
    const size_t n = std::strlen(suffix);
    if (s.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i])
            return false;
    return true;
}
} // namespace

bool LooksLikeSoundFile(const std::string &name)
{
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return true;
    if (name.find('/') != std::string::npos)
        return true;
    for (const char *ext : {".wav", ".flac", ".ogg", ".aif", ".aiff", ".au", ".caf", ".w64", ".rf64"})
        if (EndsWith(name, ext))
            return true;
    return false;
}

AudioSource::AudioSource(int rate, int channels, const PulseSettings &pulses) { Init(rate, channels, pulses); }

void AudioSource::Init(int rate, int channels, const PulseSettings &pulses)
{
    rate_ = rate;
    stride_ = std::max(channels, 1);
    channels_ = std::min(stride_, 2);
    PulseSettings s = pulses;
    s.sampleRate = rate;
    processors_.clear();
    for (int c = 0; c < channels_; ++c)
        processors_.emplace_back(s, static_cast<uint8_t>(c));
}

std::unique_ptr<AudioSource> AudioSource::Open(const AudioOptions &options, std::string &error)
{
    std::unique_ptr<AudioSource> src(new AudioSource);
    src->name_ = options.name;
    src->file_ = options.file;
    const std::string what = "--audio=" + options.name + ": ";
    if (options.file) {
        SF_INFO info{};
        SNDFILE *f = sf_open(options.name.c_str(), SFM_READ, &info);
        if (!f) {
            std::string why = sf_strerror(nullptr);
            while (!why.empty() && (why.back() == '.' || why.back() == ' '))
                why.pop_back();
            error = what + "cannot read the sound file (" + why + ").";
            return nullptr;
        }
        if (info.samplerate < 1000 || info.channels < 1) {
            sf_close(f);
            error = what + "not a recording of at least 1000 samples per second.";
            return nullptr;
        }
        src->sound_ = f;
        src->format_ = SampleFormat::Float;
        src->Init(info.samplerate, info.channels, options.pulses);
        src->period_ = static_cast<size_t>(std::max(64, info.samplerate / 50));
        return src;
    }

    snd_lib_error_set_handler(QuietAlsa);
    snd_pcm_t *pcm = nullptr;
    int e = snd_pcm_open(&pcm, options.name.c_str(), SND_PCM_STREAM_CAPTURE, 0);
    if (e < 0) {
        error = what + "cannot open the capture device (" + snd_strerror(e) + ").";
        return nullptr;
    }
    src->pcm_ = pcm;
    snd_pcm_hw_params_t *hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    const auto fail = [&](const std::string &why) {
        error = what + why;
        return nullptr;
    };
    if ((e = snd_pcm_hw_params_any(pcm, hw)) < 0)
        return fail(std::string("the device gives no capture parameters (") + snd_strerror(e) + ").");
    // No resampling inside ALSA: it would reshape the pulses.
    snd_pcm_hw_params_set_rate_resample(pcm, hw, 0);
    if ((e = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
        return fail(std::string("the device does not deliver interleaved samples (") + snd_strerror(e) + ").");
    const std::pair<snd_pcm_format_t, SampleFormat> formats[] = {{SND_PCM_FORMAT_S32_LE, SampleFormat::S32},
                                                                 {SND_PCM_FORMAT_S16_LE, SampleFormat::S16},
                                                                 {SND_PCM_FORMAT_S24_3LE, SampleFormat::S24_3},
                                                                 {SND_PCM_FORMAT_FLOAT_LE, SampleFormat::Float}};
    bool formatSet = false;
    for (const auto &[alsa, own] : formats)
        if (snd_pcm_hw_params_test_format(pcm, hw, alsa) == 0 && snd_pcm_hw_params_set_format(pcm, hw, alsa) == 0) {
            src->format_ = own;
            formatSet = true;
            break;
        }
    if (!formatSet)
        return fail("the device takes none of the sample formats S32_LE, S16_LE, S24_3LE, FLOAT_LE.");
    unsigned channels = 0;
    for (unsigned c : {2u, 1u})
        if (snd_pcm_hw_params_test_channels(pcm, hw, c) == 0) {
            channels = c;
            break;
        }
    if (channels == 0 && snd_pcm_hw_params_get_channels_min(hw, &channels) < 0)
        return fail("the device gives no channel count.");
    if ((e = snd_pcm_hw_params_set_channels(pcm, hw, channels)) < 0)
        return fail(std::string("cannot set ") + std::to_string(channels) + " channels (" + snd_strerror(e) + ").");
    unsigned rate = 0;
    if (options.rate > 0) {
        if (snd_pcm_hw_params_test_rate(pcm, hw, static_cast<unsigned>(options.rate), 0) != 0)
            return fail("the device does not capture at " + std::to_string(options.rate) + " Hz.");
        rate = static_cast<unsigned>(options.rate);
    } else {
        for (unsigned r : {192000u, 96000u, 48000u, 44100u})
            if (snd_pcm_hw_params_test_rate(pcm, hw, r, 0) == 0) {
                rate = r;
                break;
            }
        if (rate == 0)
            return fail("the device captures at none of 192000, 96000, 48000, 44100 Hz; give --audio-rate.");
    }
    if ((e = snd_pcm_hw_params_set_rate(pcm, hw, rate, 0)) < 0)
        return fail("cannot set " + std::to_string(rate) + " Hz (" + snd_strerror(e) + ").");
    // Periods of about 10 ms in a buffer of about 250 ms.
    snd_pcm_uframes_t period = rate / 100, buffer = rate / 4;
    int dir = 0;
    snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir);
    snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
    if ((e = snd_pcm_hw_params(pcm, hw)) < 0)
        return fail(std::string("cannot set the capture parameters (") + snd_strerror(e) + ").");
    snd_pcm_hw_params_get_period_size(hw, &period, &dir);
    src->period_ = std::max<size_t>(period, 16);
    src->Init(static_cast<int>(rate), static_cast<int>(channels), options.pulses);
    if ((e = snd_pcm_prepare(pcm)) < 0)
        return fail(std::string("cannot prepare the capture (") + snd_strerror(e) + ").");
    return src;
}

AudioSource::~AudioSource()
{
    Stop();
    if (pcm_)
        snd_pcm_close(Pcm(pcm_));
    if (sound_)
        sf_close(Sound(sound_));
}

void AudioSource::Start()
{
    if (thread_.joinable() || (!pcm_ && !sound_))
        return;
    stop_ = false;
    thread_ = std::thread([this] {
        if (pcm_)
            CaptureAlsa();
        else
            ReadFile();
    });
}

void AudioSource::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void AudioSource::Fail(const std::string &why)
{
    std::lock_guard lock(mutex_);
    failed_ = true;
    failure_ = why;
}

void AudioSource::MarkLost(int64_t frames)
{
    std::lock_guard lock(mutex_);
    ++overruns_;
    if (frames <= 0)
        return;
    for (int c = 0; c < channels_; ++c) {
        PulseEvent e;
        e.position = frames_;
        e.dead = static_cast<uint32_t>(std::min<int64_t>(frames, UINT32_MAX));
        e.channel = static_cast<uint8_t>(c);
        e.kind = PulseKind::Lost;
        queue_.push_back(e);
    }
    frames_ += frames;
    lost_ += frames;
    position_ = frames_;
}

void AudioSource::CaptureAlsa()
{
    snd_pcm_t *pcm = Pcm(pcm_);
    std::vector<unsigned char> buffer(period_ * static_cast<size_t>(stride_) * BytesPerSample(format_));
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastRead = Clock::now();
    while (!stop_) {
        snd_pcm_sframes_t n = snd_pcm_wait(pcm, 200);
        if (n == 0) {
            if (snd_pcm_state(pcm) == SND_PCM_STATE_DISCONNECTED) {
                Fail(snd_strerror(-ENODEV));
                return;
            }
            continue;
        }
        if (n > 0)
            n = snd_pcm_readi(pcm, buffer.data(), period_);
        if (n == -EAGAIN)
            continue;
        if (n == -EPIPE) {
            // An overrun: what the card captured since the last read is gone.
            // Its length counts as dead time.
            const double gap = std::chrono::duration<double>(Clock::now() - lastRead).count();
            MarkLost(static_cast<int64_t>(gap * rate_));
            if (snd_pcm_prepare(pcm) < 0) {
                Fail(snd_strerror(-EPIPE));
                return;
            }
            lastRead = Clock::now();
            continue;
        }
        if (n == -ESTRPIPE) { // suspended
            int e;
            while ((e = snd_pcm_resume(pcm)) == -EAGAIN && !stop_)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (e < 0 && snd_pcm_prepare(pcm) < 0) {
                Fail(snd_strerror(e));
                return;
            }
            continue;
        }
        if (n < 0) {
            Fail(snd_strerror(static_cast<int>(n)));
            return;
        }
        lastRead = Clock::now();
        ProcessFrames(buffer.data(), static_cast<size_t>(n), format_);
    }
}

void AudioSource::ReadFile()
{
    SNDFILE *f = Sound(sound_);
    std::vector<float> buffer(period_ * static_cast<size_t>(stride_));
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    int64_t read = 0;
    while (!stop_) {
        const sf_count_t n = sf_readf_float(f, buffer.data(), static_cast<sf_count_t>(period_));
        if (n <= 0)
            break;
        ProcessFrames(buffer.data(), static_cast<size_t>(n), SampleFormat::Float);
        read += n;
        // The recording plays in real time, as a live input would.
        const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(static_cast<double>(read) / rate_));
        while (!stop_ && Clock::now() < due)
            std::this_thread::sleep_for(std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(50)));
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
}

void AudioSource::ProcessFrames(const void *data, size_t frames, SampleFormat format)
{
    const size_t count = frames * static_cast<size_t>(stride_);
    converted_.resize(count);
    const auto *bytes = static_cast<const unsigned char *>(data);
    switch (format) {
    case SampleFormat::S16: {
        const auto *s = static_cast<const int16_t *>(data);
        for (size_t i = 0; i < count; ++i)
            converted_[i] = static_cast<float>(s[i]) * (1.0f / 32768.0f);
        break;
    }
    case SampleFormat::S32: {
        const auto *s = static_cast<const int32_t *>(data);
        for (size_t i = 0; i < count; ++i)
            converted_[i] = static_cast<float>(s[i]) * (1.0f / 2147483648.0f);
        break;
    }
    case SampleFormat::S24_3:
        for (size_t i = 0; i < count; ++i) {
            const unsigned char *b = bytes + 3 * i;
            const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(b[0]) << 8 |
                                                   static_cast<uint32_t>(b[1]) << 16 |
                                                   static_cast<uint32_t>(b[2]) << 24) >> 8;
            converted_[i] = static_cast<float>(v) * (1.0f / 8388608.0f);
        }
        break;
    case SampleFormat::Float: {
        // A float recording may hold anything: what is not a number
        // counts as the baseline's zero.
        const auto *f = static_cast<const float *>(data);
        for (size_t i = 0; i < count; ++i)
            converted_[i] = std::isfinite(f[i]) ? f[i] : 0.0f;
        break;
    }
    }
    const float *samples = converted_.data();
    fresh_.clear();
    for (int c = 0; c < channels_; ++c)
        processors_[static_cast<size_t>(c)].Process(samples + c, frames, static_cast<size_t>(stride_), fresh_);
    std::lock_guard lock(mutex_);
    for (PulseEvent &e : fresh_) {
        e.position += lost_;
        queue_.push_back(e);
    }
    while (queue_.size() > QueueLimit)
        queue_.pop_front();
    frames_ += static_cast<int64_t>(frames);
    position_ = frames_;
}

void AudioSource::Drain(Batch &batch)
{
    batch.events.clear();
    std::lock_guard lock(mutex_);
    batch.events.assign(queue_.begin(), queue_.end());
    queue_.clear();
    batch.position = position_;
    batch.overruns = overruns_;
    batch.ended = ended_;
    batch.failed = failed_;
    if (failed_ && !failureTaken_) {
        batch.failure = failure_;
        failureTaken_ = true;
    }
}

// ---------------------------------------------------------------------------

namespace {
// Frames of the stream in a duration of days; durations beyond any stream
// (a preset of years) are held far below the range of the positions.
int64_t Frames(double days, double rate)
{
    const double f = days * 86400.0 * rate;
    return f > 0 ? static_cast<int64_t>(std::min(f, 1e18)) : 0;
}
} // namespace

AudioAcquisition::Status AudioAcquisition::Step()
{
    // While a print is served from a snapshot the pulses wait: each is
    // judged by its own position, not by when it is taken.
    if (DataFromMemory == 0)
        return Status::Running;
    source_.Drain(batch_);
    const double rate = source_.Rate();
    const int64_t now = batch_.position;
    for (int i = 0; i < 3; ++i) {
        const bool running = Settings.Running[i] == 1;
        if (running && (!wasRunning_[i] || Settings.StartTime[i] != lastStart_[i])) {
            // A new Start: the exposure began that long ago on the stream's
            // clock. Elapsed may still hold the last exposure until the next
            // exposure tick; StartTime is the Start's own.
            runFrom_[i] = now - Frames(std::max(0.0, Now() - Settings.StartTime[i]), rate);
            runTo_[i] = INT64_MAX;
            dead_[i] = 0;
            accepted_[i] = 0;
            lastStart_[i] = Settings.StartTime[i];
        } else if (!running && wasRunning_[i]) {
            const double e = std::min(Elapsed[i], Settings.ExposurePreset[i]);
            runTo_[i] = std::min(now, runFrom_[i] + Frames(e, rate));
        }
        wasRunning_[i] = running;
        channels_[i].clear();
    }
    const int32_t nch = Settings.ChannelCount;
    const int64_t shift = Settings.DigitalShift;
    for (const PulseEvent &e : batch_.events) {
        const int i = e.channel;
        if (i >= 3 || i + 1 > Settings.InputCount || e.position < runFrom_[i] || e.position >= runTo_[i])
            continue;
        dead_[i] += e.dead;
        switch (e.kind) {
        case PulseKind::Accepted: {
            ++accepted_[i];
            const int64_t c = static_cast<int64_t>(std::floor(double(e.height) * nch)) + shift;
            if (c >= 0 && c < nch)
                channels_[i].push_back(static_cast<int32_t>(c));
            break;
        }
        case PulseKind::Rejected:
        case PulseKind::Clipped:
        case PulseKind::Lost:
            break;
        }
    }
    for (int i = 0; i < 3; ++i)
        if (!channels_[i].empty())
            AddPulses(i + 1, channels_[i].data(), channels_[i].size());
    overruns_ = batch_.overruns;
    ended_ = batch_.ended;
    if (batch_.failed && !lost_) {
        lost_ = true;
        failure_ = batch_.failure;
        // The device's inputs stop where they stand; their counts stay.
        for (int i = 0; i < source_.Channels() && i < 3; ++i)
            if (Settings.Running[i] == 1) {
                Settings.Running[i] = 0;
                runTo_[i] = now;
                wasRunning_[i] = false;
            }
        return Status::DeviceLost;
    }
    return Status::Running;
}

double AudioAcquisition::DeadSeconds(int n) const
{
    return n >= 1 && n <= 3 && source_.Rate() > 0 ? double(dead_[n - 1]) / source_.Rate() : 0.0;
}

} // namespace device
