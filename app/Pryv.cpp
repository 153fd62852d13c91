// Program entry: the command line, the acquisition source, the start-up
// sequence, then the event loop.
#include "ui/platform/AppSetup.h"
#include "app/CommandLine.h"
#include "files/FileReplace.h"
#include "interchange/Interchange.h"
#include "ui/platform/Platform.h"
#include "device/AudioSource.h"
#include "device/SharedMemory.h"
#include "device/Simulator.h"
#include "files/SpektrFiles.h"
#include "ui/main/UnitRYV.h"
#include "core/Uryv.h"

#include <QApplication>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::unique_ptr<device::Simulator> simulator;

void FeedSimulator() { simulator->Step(); }
bool SimulatorDeadTime(int32_t n, double &days) { return simulator->DeadTime(n, days); }

std::unique_ptr<device::AudioSource> audio;
std::unique_ptr<device::AudioAcquisition> audioFeed;
QPointer<QWidget> frameWindow;

// The frame's caption names the sound card or the recording (and says when
// the recording has ended), and the overruns the capture has had, so that
// lost time is never hidden.
QString AudioCaption()
{
    const QString name = QString::fromStdString(audio->Name());
    QString what = audio->IsFile() ? QStringLiteral("запись %1").arg(QFileInfo(name).fileName())
                                   : QStringLiteral("звуковая карта %1").arg(name);
    if (audioFeed->Ended())
        what += QStringLiteral(", окончена");
    if (audioFeed->Overruns() > 0)
        what += QStringLiteral(", переполнений: %1").arg(audioFeed->Overruns());
    return QStringLiteral("RYV_demo (%1)").arg(what);
}

// The card measures the dead time of the inputs it feeds: the left channel
// input 1, the right one input 2.
bool AudioDeadTime(int32_t n, double &days)
{
    if (!audioFeed || n < 1 || n > audio->Channels())
        return false;
    days = audioFeed->DeadSeconds(n) / 86400.0;
    return true;
}

void FeedAudio()
{
    const bool lost = audioFeed->Step() == device::AudioAcquisition::Status::DeviceLost;
    if (frameWindow)
        frameWindow->setWindowTitle(AudioCaption());
    if (lost)
        Platform::MessageBox(QStringLiteral("RYV_demo"),
                             QStringLiteral("Звуковая карта %1 недоступна: %2. Набор по её входам остановлен, "
                                            "накопленные отсчёты сохранены.")
                                 .arg(QString::fromStdString(audio->Name()), QString::fromStdString(audioFeed->Failure())),
                             Platform::Icon::NoIcon, Platform::Buttons::Ok);
}

// The counts of a spectrum file (either of the program's formats, chosen
// by ".txt" as its read command chooses) as channel weights.
bool LoadSourceSpectrum(const std::string &path, std::vector<double> &weights, std::string &error)
{
    struct stat st {};
    const int fd = OpenRegularFileForReading(path.c_str(), st);
    if (fd < 0) {
        error = "--simulate=" + path + ": not a built-in source (am241, cs137, co60, k40, mix) nor a spectrum file.";
        return false;
    }
    // One byte more than a spectrum file may have tells an oversized one.
    QByteArray bytes(qsizetype(std::min<off_t>(st.st_size, MaxInterchangeFileBytes + 1)), '\0');
    bool failed = false;
    bytes.truncate(qsizetype(ReadUpTo(fd, bytes.data(), size_t(bytes.size()), failed)));
    ::close(fd);
    SpectrumCounts counts;
    QString problem;
    const bool read = bytes.size() <= MaxInterchangeFileBytes &&
                      (IsTextSpectrumPath(path) ? ReadTextCounts(bytes, counts, problem)
                                                : ReadBinaryCounts(bytes, counts, problem));
    if (!read) {
        error = "--simulate=" + path + ": " +
                (problem.isEmpty() ? std::string("not a spectrum of 1024, 4096 or 16384 channels") : problem.toStdString()) +
                ".";
        return false;
    }
    weights.assign(counts.begin(), counts.end());
    double total = 0;
    for (double &w : weights) {
        w = w > 0 ? w : 0;
        total += w;
    }
    if (!(total > 0)) {
        error = "--simulate=" + path + ": the spectrum holds no counts.";
        return false;
    }
    return true;
}

// path made absolute against the start folder, byte for byte.
std::string Absolute(const std::string &path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    std::string cwd(4096, '\0');
    while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (errno != ERANGE)
            return path;
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::strlen(cwd.c_str()));
    return cwd + (cwd.size() > 1 ? "/" : "") + path;
}

// What the start-up sequence learns before any window exists.
struct Prepared {
    std::string memoryPath; // the data memory's file, empty: the program's own
    bool memoryKept = false; // the file was there before: it holds earlier counts
};

// Everything that can fail on the command line's account happens here,
// before a window exists: a failure is one line on stderr and exit code 2.
bool PrepareSources(const CommandLine &cl, Prepared &prepared)
{
    std::string error;
    if (cl.simulate) {
        const uint64_t seed = cl.seedGiven ? cl.seed
                                           : static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                                                 static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
        std::vector<device::EmissionLine> lines;
        const std::string source = PathBytes(cl.source).toStdString();
        if (device::BuiltinSourceLines(source, lines)) {
            simulator = std::make_unique<device::Simulator>(std::move(lines), cl.rate, seed);
            simulator->SetLeadShield(cl.shield);
        } else {
            std::vector<double> weights;
            if (!LoadSourceSpectrum(source, weights, error)) {
                std::fprintf(stderr, "ryv_demo: %s\n", error.c_str());
                return false;
            }
            simulator = std::make_unique<device::Simulator>(std::move(weights), cl.rate, seed);
        }
    }
    if (cl.audio) {
        device::AudioOptions options;
        options.name = cl.audioName.toStdString();
        options.file = device::LooksLikeSoundFile(options.name);
        options.rate = cl.audioRate;
        options.pulses.polarity = cl.polarity > 0   ? device::Polarity::Positive
                                  : cl.polarity < 0 ? device::Polarity::Negative
                                                    : device::Polarity::Auto;
        options.pulses.threshold = cl.threshold / 100.0;
        if (options.file && cl.audioRate > 0) {
            std::fprintf(stderr, "ryv_demo: --audio-rate: only with a capture device; a recording has its own.\n");
            return false;
        }
        audio = device::AudioSource::Open(options, error);
        if (!audio) {
            std::fprintf(stderr, "ryv_demo: %s\n", error.c_str());
            return false;
        }
        audioFeed = std::make_unique<device::AudioAcquisition>(*audio);
    }
    struct stat st {};
    if (!cl.memoryPath.isEmpty()) {
        prepared.memoryPath = PathBytes(cl.memoryPath).toStdString();
        prepared.memoryKept = ::stat(prepared.memoryPath.c_str(), &st) == 0;
        if (!device::MapDataMemory(prepared.memoryPath, error)) {
            std::fprintf(stderr, "ryv_demo: %s\n", error.c_str());
            return false;
        }
    } else if (simulator) {
        // The simulated board keeps its data memory between runs, in a file
        // beside the settings file. Where that file cannot serve, the run
        // goes on with a memory of its own, and says so.
        std::string dir = SettingsFilePath.substr(0, SettingsFilePath.rfind('/') + 1);
        prepared.memoryPath = dir + SimulatedMemoryFileName;
        prepared.memoryKept = ::stat(prepared.memoryPath.c_str(), &st) == 0;
        if (!device::MapDataMemory(prepared.memoryPath, error)) {
            std::fprintf(stderr, "ryv_demo: %s; the counts of this run are not kept.\n",
                         error.substr(std::strlen("--memory ")).c_str());
            prepared.memoryPath.clear();
            prepared.memoryKept = false;
        }
    }
    return true;
}

// The time since the settings file was last written (at the last exit), in
// days; 0 when there is none.
double ClosedDays(const std::string &settingsPath)
{
    struct stat st {};
    if (::stat(settingsPath.c_str(), &st) != 0)
        return 0;
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const double seconds = double(now.tv_sec - st.st_mtim.tv_sec) + double(now.tv_nsec - st.st_mtim.tv_nsec) / 1e9;
    return seconds > 0 ? seconds / 86400.0 : 0.0;
}

int Run(int argc, char *argv[], const CommandLine &cl)
{
    // The settings file is resolved once, against the directory the program
    // is started in.
    SettingsFilePath = Absolute(cl.settingsPath.isEmpty() ? std::string(SettingsFileName)
                                                          : PathBytes(cl.settingsPath).toStdString());
    Prepared prepared;
    if (!PrepareSources(cl, prepared))
        return 2;
    const double closed = ClosedDays(SettingsFilePath);
    QApplication app(argc, argv);
    Platform::SetUpApplication(app);
    std::string err;
    if (LoadSettings(SettingsFilePath, err) == LoadResult::IoError) {
        Platform::ReportError(PathFromBytes(QByteArrayView(err.data(), qsizetype(err.size()))));
        return 1;
    }
    // The fill pattern stands for a board's power-up contents: a simulation
    // starts from zero, and a shared memory belongs to whoever feeds it.
    MemoryInitPending = !simulator && !audio && prepared.memoryPath.empty();
    if (simulator) {
        // A board counts on while its front end is closed: with its memory
        // kept, the closed time of a running exposure brings its pulses.
        simulator->Begin(prepared.memoryKept ? closed : 0.0);
        PulseFeed = FeedSimulator;
        DeadTimeOf = SimulatorDeadTime;
    }
    if (audio) {
        PulseFeed = FeedAudio;
        DeadTimeOf = AudioDeadTime;
    }
    Platform::SetHintsEnabled(Settings.ShowHints != 0);
    auto *frame = new TFRYV;
    QTimer audioTimer;
    if (audio) {
        // Pulses are taken after each exposure tick, and once a second while
        // nothing runs, so that a lost device is told and old pulses go.
        // The frame takes any pulse feed for the simulation; a sound card or a
        // recording names itself.
        frameWindow = frame;
        frame->setWindowTitle(AudioCaption());
        QObject::connect(&audioTimer, &QTimer::timeout, [] { Platform::Guarded([] { FeedAudio(); }); });
        audioTimer.start(1000);
        audio->Start();
    }
    frame->show();
    // A data-memory file cut short by another program: said once, the run
    // goes on with what the memory holds.
    QTimer watch;
    if (!prepared.memoryPath.empty()) {
        const QString file = PathFromBytes(QByteArrayView(prepared.memoryPath.data(), qsizetype(prepared.memoryPath.size())));
        QObject::connect(&watch, &QTimer::timeout, &app, [&watch, file] {
            if (!device::DataMemoryCutShort())
                return;
            watch.stop();
            Platform::MessageBox(QStringLiteral("  Файл памяти данных укорочен !!!"),
                                 QStringLiteral("Файл памяти данных %1 укорочен другой программой. Накопление из файла "
                                                "остановлено: данные, которых в файле больше нет, читаются как нули, "
                                                "остальное сохранено в памяти программы. Чтобы снова работать с файлом, "
                                                "верните ему размер 65536 байт и перезапустите программу.")
                                     .arg(file),
                                 Platform::Icon::Stop, Platform::Buttons::Ok);
        });
        watch.start(250);
    }
    const int rc = app.exec();
    audioTimer.stop();
    if (audio)
        audio->Stop();
    return rc;
}
} // namespace

int main(int argc, char *argv[])
{
    // Arguments keep their bytes: a file name need not be UTF-8.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(PathFromBytes(argv[i]));
    const CommandLine cl = ParseCommandLine(arguments);
    switch (cl.mode) {
    case CommandLine::Mode::Help:
    case CommandLine::Mode::Version:
        std::fputs(PathBytes(cl.text).constData(), stdout);
        return 0;
    case CommandLine::Mode::Error:
        std::fprintf(stderr, "%s\n", PathBytes(cl.text).constData());
        return 2;
    case CommandLine::Mode::Convert: {
        QString error, note;
        SpectrumFacts given;
        if (cl.realTime >= 0)
            given.RealTime = cl.realTime;
        if (cl.liveTime >= 0)
            given.LiveTime = cl.liveTime;
        given.Start = cl.start;
        const int rc =
            ConvertSpectrumFile(cl.convertIn, cl.convertOut, cl.settingsPath, given, error, &note, cl.spectrum);
        if (rc != 0)
            std::fprintf(stderr, "ryv_demo: %s\n", PathBytes(error).constData());
        else if (!note.isEmpty())
            std::fprintf(stderr, "ryv_demo: %s\n", PathBytes(note).constData());
        return rc;
    }
    case CommandLine::Mode::List: {
        QString listing, error;
        const int rc = ListSpectrumFile(cl.listFile, listing, error);
        if (rc != 0)
            std::fprintf(stderr, "ryv_demo: %s\n", PathBytes(error).constData());
        else
            std::fputs(PathBytes(listing).constData(), stdout);
        return rc;
    }
    case CommandLine::Mode::Run:
        break;
    }
    return Run(argc, argv, cl);
}
