// Program entry: the command line, the acquisition source, the start-up
// sequence, then the event loop.
#include "AppSetup.h"
#include "CommandLine.h"
#include "Platform.h"
#include "SharedMemory.h"
#include "Simulator.h"
#include "Interchange.h"
#include "SpektrFiles.h"
#include "UnitRYV.h"
#include "Uryv.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace {
std::unique_ptr<device::Simulator> simulator;

void FeedSimulator() { simulator->Step(); }

// The counts of a spectrum file (either format) as channel weights. Read
// through the channel access of a scratch layout of the file's length;
// the data memory and the record are left zero again.
bool LoadSourceSpectrum(const std::string &path, std::vector<double> &weights, std::string &error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "--simulate=" + path + ": not a built-in source (am241, cs137, co60, k40, mix) nor a spectrum file.";
        return false;
    }
    const int64_t perChannel = IsTextSpectrumPath(path) ? 22 : 4;
    const int64_t channels = st.st_size / perChannel;
    if (st.st_size % perChannel != 0 || (channels != 1024 && channels != 4096 && channels != 16384)) {
        error = "--simulate=" + path + ": not a spectrum of 1024, 4096 or 16384 channels.";
        return false;
    }
    Settings = DefaultSettings();
    Settings.ChannelCount = static_cast<int32_t>(channels);
    Settings.InputCount = 1;
    DataFromMemory = 1;
    const SpectrumFileResult r = ReadSpectrum(path, 1);
    weights.assign(static_cast<size_t>(channels), 0.0);
    double total = 0;
    for (int32_t c = 0; c < channels; ++c) {
        const int32_t v = ReadChannel(c, 1);
        weights[static_cast<size_t>(c)] = v > 0 ? v : 0;
        total += weights[static_cast<size_t>(c)];
    }
    ResetCoreState();
    if (!r.Succeeded()) {
        error = "--simulate=" + path + ": " + (r.generalError.empty() ? r.BoxText() : r.generalError) + ".";
        return false;
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
    MemoryInitPending = !simulator && cl.memoryPath.isEmpty();
    if (simulator) {
        simulator->Begin();
        PulseFeed = FeedSimulator;
    }
    Platform::SetHintsEnabled(Settings.ShowHints != 0);
    auto *frame = new TFRYV;
    frame->show();
    return app.exec();
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
