#include "core/Uryv.h"

#include <bit>
#include <iterator>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

SettingsRecord Settings{};
std::string SettingsFilePath;
alignas(DataMemorySize) uint8_t DataMemory[DataMemorySize]{};
uint8_t DataFromMemory = 0;
std::vector<int32_t> PrintSnapshot;
bool MemoryInitPending = false;
uint64_t OutOfRangeChannelAccesses = 0;
double Elapsed[3]{};
PulseFeedFn PulseFeed = nullptr;
DeadTimeFn DeadTimeOf = nullptr;

namespace {
NowProviderFn nowProvider = nullptr;
NowProviderFn monotonicProvider = nullptr;

// Per input: the monotonic reading at which its Elapsed was 0, valid while
// the input runs and the program has timed it.
double runAnchor[3]{};
bool anchored[3]{};

bool ValidChannelCount(int32_t n) { return n == 1024 || n == 4096 || n == 16384; }
} // namespace

// ---------------------------------------------------------------------------
// Settings record

SettingsRecord DefaultSettings()
{
    SettingsRecord r{};
    for (double &p : r.ExposurePreset)
        p = 0.9;
    r.VertScale = 25;
    r.ViewFirst = 0;
    r.ActionInput = 1;
    r.ShowHints = 1;
    r.HistogramMode = 1;
    r.Marker[0] = 100;
    r.Marker[1] = 900;
    r.LeftPeakFrom = 10;
    r.LeftPeakTo = 20;
    r.RightPeakFrom = 1000;
    r.RightPeakTo = 1010;
    r.LeftPeakEnergy = 15.0;
    r.RightPeakEnergy = 1005.0;
    r.LeftPeakCentroid = 15.0;
    r.RightPeakCentroid = 1005.0;
    r.InputCount = 3;
    r.ChannelCount = 1024;
    r.InterfaceKind = 0;
    r.ParallelConversion = 0;
    r.ActOnAllInputs = 1;
    for (double &t : r.StartTime)
        t = 36000.1;
    r.ViewWidth = static_cast<uint16_t>(r.ChannelCount);
    return r;
}

namespace {
// A file without any write permission bit counts as read-only, also for
// root, who could otherwise open it for writing; so does a file this user
// may not write.
bool IsReadOnlyFile(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
}

// Writes the whole record at the start of fd, cuts off whatever follows it
// when cut is set, and brings it to the disk; 0 or the errno of the first
// failure.
int WriteRecord(int fd, bool cut)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(&Settings);
    size_t put = 0;
    while (put < sizeof Settings) {
        ssize_t k = ::pwrite(fd, bytes + put, sizeof Settings - put, off_t(put));
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return k < 0 ? errno : ENOSPC;
        put += static_cast<size_t>(k);
    }
    if (cut && ::ftruncate(fd, off_t(sizeof Settings)) != 0)
        return errno;
    if (::fsync(fd) != 0 && errno != EINVAL)
        return errno;
    return 0;
}

std::string WriteErrorText(const std::string &path, int err)
{
    return "Ошибка записи файла настроек " + path + ": " + std::strerror(err);
}

// The file a write to path lands in: symbolic links followed to their end,
// even where that end does not exist yet, so that a link stays a link.
std::string FinalTarget(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        std::string target(size_t(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t k = ::readlink(path.c_str(), target.data(), target.size());
        if (k <= 0 || size_t(k) >= target.size())
            break;
        target.resize(size_t(k));
        if (target[0] != '/') {
            const size_t slash = path.rfind('/');
            if (slash != std::string::npos)
                target = path.substr(0, slash + 1) + target;
        }
        path = target;
    }
    return path;
}

// Without a temporary file beside it, the existing file is written in place:
// the record over the old bytes, then any excess cut off, then synchronised.
// At every moment the file starts with a whole record, the old or the new.
bool SaveInPlace(const std::string &path, int createErr, std::string &errorText)
{
    int fd;
    do
        fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int err = errno == ENOENT ? createErr : errno;
        errorText = "Файл настроек " + path + " не может быть создан: " + std::strerror(err);
        return false;
    }
    struct stat st {};
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = EINVAL;
    else
        err = WriteRecord(fd, true);
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0) {
        errorText = WriteErrorText(path, err);
        return false;
    }
    return true;
}
} // namespace

LoadResult LoadSettings(const std::string &path, std::string &errorText)
{
    errorText.clear();
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        Settings = DefaultSettings();
        return LoadResult::Defaults;
    }
    // A FIFO or a device would block the reader or be replaced by a regular
    // file at the exit: refused.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errorText = "Ошибка ввода-вывода: файл настроек " + path + " не является обычным файлом";
        return LoadResult::IoError;
    }
    SettingsRecord r{};
    auto *bytes = reinterpret_cast<unsigned char *>(&r);
    size_t got = 0;
    bool failed = false;
    while (got < sizeof r) {
        ssize_t k = ::read(fd, bytes + got, sizeof r - got);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0) {
            failed = true;
            break;
        }
        got += static_cast<size_t>(k);
    }
    const bool closeFailed = ::close(fd) != 0;
    if (failed) {
        errorText = "Ошибка ввода-вывода: файл настроек " + path +
                    " короче одной записи (" + std::to_string(got) + " байт из 152)";
        return LoadResult::IoError;
    }
    if (closeFailed) {
        errorText = "Ошибка ввода-вывода при закрытии файла настроек " + path;
        return LoadResult::IoError;
    }
    Settings = r;
    SanitizeSettings(Settings);
    return LoadResult::FromFile;
}

bool SaveSettings(const std::string &givenPath, std::string &errorText)
{
    errorText.clear();
    const std::string path = FinalTarget(givenPath);
    if (IsReadOnlyFile(path))
        return false; // locked by the user: left as it is, without a word
    // Only a settings record is replaced: a file of another size or kind
    // (another program's file given as the settings) is left as it is.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            errorText = "Файл настроек " + path + " не заменён: это не обычный файл";
            return false;
        }
        if (st.st_size != off_t(sizeof(SettingsRecord))) {
            errorText = "Файл настроек " + path + " не заменён: это не запись настроек (размер файла " +
                        std::to_string(st.st_size) + ", а записи 152 байта)";
            return false;
        }
    }
    StartTimesFromElapsed();
    std::string tmpl = path + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0)
        return SaveInPlace(path, errno, errorText);
    ::fchmod(fd, 0644);
    int err = WriteRecord(fd, false);
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(name.data(), path.c_str()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(name.data());
        errorText = WriteErrorText(path, err);
        return false;
    }
    return true;
}

bool VertTickSearch(int32_t vertScale, VertTicks &t)
{
    int32_t s = vertScale, e = 0, m = 0, n = 0;
    while (s > 0) {
        s /= 10;
        ++e;
        if (s / 2 < 5) {
            n = 2;
            m = s / 2;
        } else if (s / 3 < 6) {
            n = 3;
            m = s / 3;
        }
        if (m != 0) {
            t = {e, s, m, n};
            return true;
        }
    }
    return false;
}

int SanitizeSettings(SettingsRecord &r)
{
    const SettingsRecord d = DefaultSettings();
    int changed = 0;
    auto fix = [&changed](auto &field, auto value) {
        using T = std::remove_reference_t<decltype(field)>;
        if (field != static_cast<T>(value)) {
            field = static_cast<T>(value);
            ++changed;
        }
    };
    auto fixDouble = [&changed](double &field, double def) {
        if (!std::isfinite(field)) {
            field = def;
            ++changed;
        }
    };
    for (int i = 0; i < 3; ++i) {
        fixDouble(r.ExposurePreset[i], d.ExposurePreset[i]);
        fixDouble(r.StartTime[i], d.StartTime[i]);
    }
    fixDouble(r.LeftPeakEnergy, d.LeftPeakEnergy);
    fixDouble(r.RightPeakEnergy, d.RightPeakEnergy);
    fixDouble(r.LeftPeakCentroid, d.LeftPeakCentroid);
    fixDouble(r.RightPeakCentroid, d.RightPeakCentroid);

    if (r.InputCount < 1)
        fix(r.InputCount, 1);
    else if (r.InputCount > 3)
        fix(r.InputCount, 3);
    if (r.ActionInput < 1)
        fix(r.ActionInput, 1);
    else if (r.ActionInput > 3)
        fix(r.ActionInput, 3);
    if (r.InterfaceKind < 0 || r.InterfaceKind > 3)
        fix(r.InterfaceKind, d.InterfaceKind);
    if (!ValidChannelCount(r.ChannelCount)) {
        // nearest of 1024, 4096, 16384 (ties go to the smaller)
        const int64_t c = r.ChannelCount;
        int32_t best = 1024;
        for (int32_t v : {4096, 16384})
            if (std::llabs(c - v) < std::llabs(c - best))
                best = v;
        fix(r.ChannelCount, best);
    }
    for (uint8_t &run : r.Running)
        if (run > 1)
            fix(run, 0);

    if (r.VertScale < 25)
        fix(r.VertScale, 25);
    VertTicks t;
    if (!VertTickSearch(r.VertScale, t)) {
        // From 25 up, the search finds no step exactly on [18p, 20p) for a
        // power of ten p >= 10: take the nearer end, 18p - 1 or 20p (ties go
        // to the smaller).
        int64_t p = 10;
        while (int64_t(r.VertScale) >= 20 * p)
            p *= 10;
        const int64_t lo = 18 * p - 1, hi = 20 * p;
        fix(r.VertScale, int64_t(r.VertScale) - lo <= hi - r.VertScale ? lo : hi);
    }

    if (r.ViewWidth < 32)
        fix(r.ViewWidth, 32);
    if (r.ViewWidth > r.ChannelCount)
        fix(r.ViewWidth, r.ChannelCount);
    if (r.ViewFirst < 0)
        fix(r.ViewFirst, 0);
    if (int64_t(r.ViewFirst) + r.ViewWidth > r.ChannelCount)
        fix(r.ViewFirst, r.ChannelCount - r.ViewWidth);
    for (int32_t &m : r.Marker) {
        if (m < 0)
            fix(m, 0);
        else if (m > r.ChannelCount - 1)
            fix(m, r.ChannelCount - 1);
    }
    return changed;
}

void KeepViewInChannelRange()
{
    const int32_t n = Settings.ChannelCount;
    if (!ValidChannelCount(n))
        return;
    if (Settings.ViewWidth > n)
        Settings.ViewWidth = static_cast<uint16_t>(n);
    if (Settings.ViewWidth < 32)
        Settings.ViewWidth = 32;
    if (Settings.ViewFirst < 0)
        Settings.ViewFirst = 0;
    if (int64_t(Settings.ViewFirst) + Settings.ViewWidth > n)
        Settings.ViewFirst = n - Settings.ViewWidth;
    for (int32_t &m : Settings.Marker) {
        if (m < 0)
            m = 0;
        else if (m > n - 1)
            m = n - 1;
    }
}

// ---------------------------------------------------------------------------
// Device configurations

namespace {
// The one member of a set, or -1 when it holds none or several.
int OnlyMember(uint8_t set)
{
    return std::has_single_bit(static_cast<unsigned>(set)) ? std::countr_zero(static_cast<unsigned>(set)) : -1;
}
} // namespace

DeviceChoices DeviceChoicesFor(const SettingsRecord &r)
{
    DeviceChoices d;
    for (const DeviceConfiguration &row : DeviceConfigurations)
        if (row.InterfaceKind == r.InterfaceKind)
            d.Types |= static_cast<uint8_t>(1u << row.ParallelConversion);
    if (d.Types == 0)
        return d;
    d.Known = true;
    // An interface with one conversion type has it marked whatever the
    // record says; otherwise the record's type is.
    const int onlyType = OnlyMember(d.Types);
    const int type = onlyType >= 0 ? onlyType : (r.ParallelConversion != 0 ? 1 : 0);
    d.MarkedType = type;
    const DeviceConfiguration *rows[std::size(DeviceConfigurations)];
    size_t n = 0;
    for (const DeviceConfiguration &row : DeviceConfigurations)
        if (row.InterfaceKind == r.InterfaceKind && row.ParallelConversion == type) {
            rows[n++] = &row;
            d.Inputs |= row.Inputs;
        }
    const int onlyInputs = OnlyMember(d.Inputs);
    if (onlyInputs >= 0)
        d.MarkedInputs = onlyInputs + 1;
    else if (r.InputCount >= 1 && r.InputCount <= 3 && (d.Inputs >> (r.InputCount - 1)) & 1)
        d.MarkedInputs = r.InputCount;
    // The row that decides the channel counts: the only one of the type, or
    // the one that takes the record's input count.
    const DeviceConfiguration *row = n == 1 ? rows[0] : nullptr;
    for (size_t i = 0; !row && i < n; ++i)
        if (r.InputCount >= 1 && r.InputCount <= 3 && (rows[i]->Inputs >> (r.InputCount - 1)) & 1)
            row = rows[i];
    if (!row) {
        d.TypesTouched = d.ChannelsTouched = false;
        return d;
    }
    d.Channels = row->Channels;
    for (int i = 2; i >= 0 && d.MarkedChannels < 0; --i)
        if ((row->Channels >> i) & 1 && DeviceChannelCounts[i] == r.ChannelCount)
            d.MarkedChannels = DeviceChannelCounts[i];
    if (d.MarkedChannels < 0) {
        if (row->KeepsOtherChannels) {
            d.TypesTouched = false;
        } else {
            // A count the row does not take: its largest is marked.
            for (int i = 2; i >= 0 && d.MarkedChannels < 0; --i)
                if ((row->Channels >> i) & 1)
                    d.MarkedChannels = DeviceChannelCounts[i];
        }
    }
    return d;
}

// ---------------------------------------------------------------------------
// Data memory

int32_t PlaneOffset(int32_t c, int32_t n, int k)
{
    const int32_t iface = Settings.InterfaceKind;
    const int32_t inputs = Settings.InputCount;
    const int32_t channels = Settings.ChannelCount;
    int64_t off;
    if (iface >= 0 && iface <= 2) {
        if (inputs == 2)
            off = int64_t(n - 1) * 1024 + c + int64_t(k) * 2048;
        else if (channels == 1024 || channels == 4096)
            off = int64_t(n - 1) * 1024 + c + int64_t(k) * 4096;
        else if (channels == 16384)
            off = int64_t(c) + int64_t(k) * 16384;
        else
            return -1;
    } else if (iface == 3) {
        off = int64_t(n - 1) * 1024 + c + int64_t(k) * 4096;
    } else {
        return -1;
    }
    if (off < 0 || off >= DataMemorySize)
        return -1;
    return static_cast<int32_t>(off);
}

namespace {
bool ChannelInRange(int32_t c, int32_t n)
{
    return c >= 0 && c < Settings.ChannelCount && n >= 1 && n <= 3;
}
} // namespace

int32_t ReadChannel(int32_t c, int32_t n)
{
    if (DataFromMemory == 0) {
        if (c >= 0 && static_cast<size_t>(c) < PrintSnapshot.size())
            return PrintSnapshot[static_cast<size_t>(c)];
        ++OutOfRangeChannelAccesses;
        return 0;
    }
    if (!ChannelInRange(c, n)) {
        ++OutOfRangeChannelAccesses;
        return 0;
    }
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
        const int32_t off = PlaneOffset(c, n, k);
        if (off >= 0)
            v |= uint32_t(DataMemory[off]) << (8 * k);
    }
    return static_cast<int32_t>(v);
}

void ReadChannelRange(int32_t first, int32_t count, int32_t n, int32_t *out)
{
    if (count <= 0)
        return;
    const bool inRange = DataFromMemory != 0 && n >= 1 && n <= 3 && first >= 0 &&
                         int64_t(first) + count <= Settings.ChannelCount;
    if (!inRange) {
        for (int32_t i = 0; i < count; ++i)
            out[i] = ReadChannel(first + i, n);
        return;
    }
    int32_t base[4];
    for (int k = 0; k < 4; ++k)
        base[k] = PlaneOffset(first, n, k);
    // Within one input the planes advance one byte per channel; a plane with
    // no place, or one that would leave the memory, takes the slow path.
    for (int k = 0; k < 4; ++k) {
        if (base[k] < 0 || PlaneOffset(first + count - 1, n, k) != base[k] + count - 1) {
            for (int32_t i = 0; i < count; ++i)
                out[i] = ReadChannel(first + i, n);
            return;
        }
    }
    const uint8_t *p0 = DataMemory + base[0], *p1 = DataMemory + base[1];
    const uint8_t *p2 = DataMemory + base[2], *p3 = DataMemory + base[3];
    for (int32_t i = 0; i < count; ++i)
        out[i] = static_cast<int32_t>(uint32_t(p0[i]) | uint32_t(p1[i]) << 8 | uint32_t(p2[i]) << 16 |
                                      uint32_t(p3[i]) << 24);
}

void WriteChannel(int32_t c, int32_t n, int32_t value)
{
    if (!ChannelInRange(c, n)) {
        ++OutOfRangeChannelAccesses;
        return;
    }
    const auto v = static_cast<uint32_t>(value);
    for (int k = 0; k < 4; ++k) {
        const int32_t off = PlaneOffset(c, n, k);
        if (off >= 0)
            DataMemory[off] = static_cast<uint8_t>(v >> (8 * k));
    }
}

bool AnyInputRunning()
{
    for (int i = 1; i <= Settings.InputCount && i <= 3; ++i)
        if (Settings.Running[i - 1] == 1)
            return true;
    return false;
}

void FillDataMemory() { std::memset(DataMemory, 1, sizeof DataMemory); }

void ClearSpectra()
{
    const int32_t channels = Settings.ChannelCount;
    if (Settings.ActOnAllInputs == 1) {
        for (int32_t c = 0; c < channels; ++c)
            for (int32_t n = 1; n <= Settings.InputCount && n <= 3; ++n)
                WriteChannel(c, n, 0);
    } else {
        for (int32_t c = 0; c < channels; ++c)
            WriteChannel(c, Settings.ActionInput, 0);
    }
}

// ---------------------------------------------------------------------------
// Clock and acquisition timing

double SystemNow()
{
    using namespace std::chrono;
    const auto tp = system_clock::now();
    const auto ms = duration_cast<milliseconds>(tp.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm lt{};
    localtime_r(&secs, &lt);
    // days from 1899-12-30 to the local civil date
    auto daysFromCivil = [](int64_t y, unsigned m, unsigned d) {
        y -= m <= 2;
        const int64_t era = (y >= 0 ? y : y - 399) / 400;
        const unsigned yoe = static_cast<unsigned>(y - era * 400);
        const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
        const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
        return era * 146097 + static_cast<int64_t>(doe) - 719468;
    };
    const int64_t days = daysFromCivil(lt.tm_year + 1900, unsigned(lt.tm_mon + 1), unsigned(lt.tm_mday)) -
                         daysFromCivil(1899, 12, 30);
    const double secOfDay = lt.tm_hour * 3600.0 + lt.tm_min * 60.0 + lt.tm_sec + double(ms % 1000) / 1000.0;
    return double(days) + secOfDay / 86400.0;
}

void SetNowProvider(NowProviderFn fn) { nowProvider = fn; }

double Now() { return nowProvider ? nowProvider() : SystemNow(); }

double SystemMonotonicNow()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count() / 86400.0;
}

void SetMonotonicProvider(NowProviderFn fn) { monotonicProvider = fn; }

double MonotonicNow() { return monotonicProvider ? monotonicProvider() : SystemMonotonicNow(); }

namespace {
void StartInput(int i)
{
    Settings.Running[i - 1] = 1;
    Settings.StartTime[i - 1] = Now();
    runAnchor[i - 1] = MonotonicNow();
    anchored[i - 1] = true;
}

// Elapsed of a running input: monotonic since the program began timing it;
// an input found running (started in an earlier run) first takes the time
// since its StartTime by the wall clock, the only measure of the time the
// program was closed. Never negative.
double CurrentElapsed(int i)
{
    const double mono = MonotonicNow();
    if (!anchored[i - 1]) {
        const double before = Now() - Settings.StartTime[i - 1];
        runAnchor[i - 1] = mono - (before > 0 ? before : 0.0);
        anchored[i - 1] = true;
    }
    const double e = mono - runAnchor[i - 1];
    return e > 0 ? e : 0.0;
}
} // namespace

bool StartAcquisition()
{
    if (Settings.ActOnAllInputs == 1) {
        for (int i = 1; i <= Settings.InputCount && i <= 3; ++i) {
            StartInput(i);
            Elapsed[i - 1] = 0;
        }
    } else if (Settings.ActionInput >= 1 && Settings.ActionInput <= 3) {
        StartInput(Settings.ActionInput);
    }
    return true;
}

bool StopAcquisition()
{
    if (Settings.ActOnAllInputs == 1) {
        for (int i = 1; i <= Settings.InputCount && i <= 3; ++i) {
            Settings.Running[i - 1] = 0;
            anchored[i - 1] = false;
        }
    } else if (Settings.ActionInput >= 1 && Settings.ActionInput <= 3) {
        Settings.Running[Settings.ActionInput - 1] = 0;
        anchored[Settings.ActionInput - 1] = false;
    }
    return AnyInputRunning();
}

bool ExposureTick()
{
    if (!AnyInputRunning())
        return true; // the timer stays enabled
    for (int i = 1; i <= Settings.InputCount && i <= 3; ++i) {
        if (Settings.Running[i - 1] != 1) {
            anchored[i - 1] = false;
            continue;
        }
        Elapsed[i - 1] = CurrentElapsed(i);
        if (Elapsed[i - 1] >= Settings.ExposurePreset[i - 1]) {
            Settings.Running[i - 1] = 0;
            anchored[i - 1] = false;
        }
    }
    return AnyInputRunning();
}

bool LiveTime(int32_t n, double &days)
{
    double dead = 0;
    if (n < 1 || n > 3 || !DeadTimeOf || !DeadTimeOf(n, dead))
        return false;
    const double live = Elapsed[n - 1] - (dead > 0 ? dead : 0.0);
    days = live > 0 ? live : 0.0;
    return true;
}

void StartTimesFromElapsed()
{
    for (int i = 1; i <= 3; ++i)
        if (Settings.Running[i - 1] == 1 && anchored[i - 1])
            Settings.StartTime[i - 1] = Now() - CurrentElapsed(i);
}

// ---------------------------------------------------------------------------
// Channels and plot columns

void MarkerLineOf(int32_t channel, TRect32 &line)
{
    const int64_t first = Settings.ViewFirst;
    const int64_t width = Settings.ViewWidth;
    int32_t x;
    if (channel <= first)
        x = 0;
    else if (channel >= first + width)
        x = 511;
    else
        x = static_cast<int32_t>(((channel - first) * 512) / width);
    line.Left = line.Right = x;
    line.Top = 0;
    line.Bottom = 300;
}

int32_t ChannelOfColumn(int32_t x)
{
    const int64_t first = Settings.ViewFirst;
    const int64_t width = Settings.ViewWidth;
    const int64_t v = ((int64_t(x) + 1) * width) / 512 + first;
    if (v > first + width - 1)
        return static_cast<int32_t>(first + width - 1);
    if (v < first)
        return static_cast<int32_t>(first);
    return static_cast<int32_t>(v);
}

void ResetCoreState()
{
    Settings = SettingsRecord{};
    std::memset(DataMemory, 0, sizeof DataMemory);
    DataFromMemory = 0;
    PrintSnapshot.clear();
    MemoryInitPending = false;
    OutOfRangeChannelAccesses = 0;
    for (double &e : Elapsed)
        e = 0;
    nowProvider = nullptr;
    PulseFeed = nullptr;
    DeadTimeOf = nullptr;
    monotonicProvider = nullptr;
    for (int i = 0; i < 3; ++i) {
        runAnchor[i] = 0;
        anchored[i] = false;
    }
}
