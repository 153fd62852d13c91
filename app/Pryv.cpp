// Program entry: the command line, the acquisition source, the start-up
// sequence, then the event loop.
#include "ui/platform/AppSetup.h"
#include "app/CommandLine.h"
#include "interchange/Interchange.h"
#include "ui/platform/Platform.h"
#include "device/AudioSource.h"
#include "device/SharedMemory.h"
#include "device/Simulator.h"
#include "files/SpektrFiles.h"
#include "ui/main/UnitRYV.h"
#include "core/Uryv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace {
std::unique_ptr<device::Simulator> simulator;

void FeedSimulator() { simulator->Step(); }

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

void FeedAudio()
{
    const bool lost = audioFeed->Step() == device::AudioAcquisition::Status::DeviceLost;
    if (frameWindow && frameWindow->windowTitle() != AudioCaption())
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
    QFile file(QString::fromStdString(path));
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !file.open(QIODevice::ReadOnly)) {
        error = "--simulate=" + path + ": not a built-in source (am241, cs137, co60, k40, mix) nor a spectrum file.";
        return false;
    }
    SpectrumCounts counts;
    QString problem;
    const QByteArray bytes = file.read(MaxInterchangeFileBytes + 1);
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

// Everything that can fail on the command line's account happens here,
// before a window exists: a failure is one line on stderr and exit code 2.
bool PrepareSources(const CommandLine &cl)
{
    std::string error;
    if (cl.simulate) {
        const uint64_t seed = cl.seedGiven ? cl.seed
                                           : static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                                                 static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
        std::vector<device::EmissionLine> lines;
        const std::string source = cl.source.toStdString();
        if (device::BuiltinSourceLines(source, lines)) {
            simulator = std::make_unique<device::Simulator>(std::move(lines), cl.rate, seed);
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
    if (!cl.memoryPath.isEmpty() && !device::MapDataMemory(cl.memoryPath.toStdString(), error)) {
        std::fprintf(stderr, "ryv_demo: %s\n", error.c_str());
        return false;
    }
    return true;
}

int Run(int argc, char *argv[], const CommandLine &cl)
{
    if (!PrepareSources(cl))
        return 2;
    QApplication app(argc, argv);
    Platform::SetUpApplication(app);
    // The settings file is resolved once, against the directory the program
    // is started in.
    const QString settings = cl.settingsPath.isEmpty() ? QString::fromLatin1(SettingsFileName) : cl.settingsPath;
    SettingsFilePath = QDir::current().absoluteFilePath(settings).toStdString();
    std::string err;
    if (LoadSettings(SettingsFilePath, err) == LoadResult::IoError) {
        Platform::ReportError(QString::fromStdString(err));
        return 1;
    }
    // The fill pattern stands for a board's power-up contents: a simulation
    // starts from zero, and a shared memory belongs to whoever feeds it.
    MemoryInitPending = !simulator && !audio && cl.memoryPath.isEmpty();
    if (simulator) {
        simulator->Begin();
        PulseFeed = FeedSimulator;
    }
    if (audio)
        PulseFeed = FeedAudio;
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
    const int rc = app.exec();
    audioTimer.stop();
    if (audio)
        audio->Stop();
    return rc;
}
} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine cl = ParseCommandLine(arguments);
    switch (cl.mode) {
    case CommandLine::Mode::Help:
    case CommandLine::Mode::Version:
        std::fputs(cl.text.toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Mode::Error:
        std::fprintf(stderr, "%s\n", cl.text.toLocal8Bit().constData());
        return 2;
    case CommandLine::Mode::Convert: {
        QString error;
        const int rc = ConvertSpectrumFile(cl.convertIn, cl.convertOut, cl.settingsPath, error);
        if (rc != 0)
            std::fprintf(stderr, "ryv_demo: %s\n", error.toLocal8Bit().constData());
        return rc;
    }
    case CommandLine::Mode::Run:
        break;
    }
    return Run(argc, argv, cl);
}
