// The refresh tick as the user waits for it: every spectrum window's timer
// fires, its slot sets the labels and draws the plot, and the paints it
// causes are processed (offscreen platform). 1 and 3 windows at 1K, 4K and
// 16K channels, with the spectrum unchanged between ticks (changing:0) and
// with every channel and the elapsed time changing between ticks: by 43
// counts, about 4 pixels of each column, as in an acquisition (changing:1),
// or by 700 counts, about 110 pixels (changing:2). Each figure is also
// given as a ratio to a plain read of the 64 KiB data memory in the same run
// (column x_read, from the CPU times: the machine may be shared).
//
// log_auto:1 runs the tick with the logarithmic and automatic count scale
// on. BM_PeakPanel is the peak panel's refresh for one 16K spectrum of the
// simulated detector (peak search and fits, the region, the nuclides and
// the table).
#include "bench/PlainRead.h"
#include "device/Simulator.h"
#include "ui/graph/PeakPanel.h"
#include "ui/graph/UGraph.h"
#include "ui/graph/ViewChoices.h"
#include "ui/main/UnitRYV.h"
#include "core/Uryv.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>

namespace {

// Counts the paint events of every widget, and of the plots alone.
struct PaintCounter : QObject {
    int64_t all = 0, plots = 0;
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint) {
            ++all;
            plots += o->objectName() == QLatin1String("SpektrImage");
        }
        return false;
    }
};
PaintCounter *counter = nullptr;

// Counts of every input: a ramp of peaks, shifted up by `lift`.
void FillSpectra(int windows, int lift)
{
    for (int n = 1; n <= windows; ++n)
        for (int c = 0; c < Settings.ChannelCount; ++c)
            WriteChannel(c, n, (c * 37 + n * 101) % 1500 + 100 + lift);
}

// args: windows, channels, changing (0: nothing, 1: every channel a little,
// 2: a lot), log_auto (1: logarithmic and automatic count scale)
void BM_Tick(benchmark::State &state)
{
    const int windows = static_cast<int>(state.range(0));
    const int channels = static_cast<int>(state.range(1));
    const bool changing = state.range(2) != 0;
    const int lift = state.range(2) == 1 ? 43 : 700;
    View = ViewChoices{};
    View.LogScale = View.AutoScale = state.range(3) != 0;

    Settings = DefaultSettings();
    Settings.InterfaceKind = 2;
    Settings.InputCount = windows;
    Settings.ChannelCount = channels;
    Settings.ViewFirst = 0;
    Settings.ViewWidth = static_cast<uint16_t>(channels);
    Settings.VertScale = 3200;
    Settings.Marker[0] = channels / 8;
    Settings.Marker[1] = channels * 3 / 4;
    Settings.HistogramMode = 1;

    auto *frame = new TFRYV;
    frame->setAttribute(Qt::WA_DeleteOnClose, false);
    frame->move(0, 0);
    frame->resize(1320, 1000);
    frame->show();
    for (int i = 0; i < windows; ++i) {
        emit frame->MWind->aboutToShow();
        frame->MNew->trigger();
    }
    const QList<QMdiSubWindow *> subs = frame->MdiArea->subWindowList();
    for (int i = 0; i < subs.size(); ++i)
        subs[i]->move((i % 2) * 650, (i / 2) * 480); // side by side, nothing hidden
    const QList<TFGraph *> graphs = frame->SpectrumWindows();
    QList<QTimer *> timers;
    for (TFGraph *g : graphs) {
        timers.append(g->findChild<QTimer *>(QStringLiteral("TimerRis")));
        timers.back()->stop(); // the benchmark fires the timers
    }

    // Two data-memory images whose every channel differs.
    FillSpectra(windows, 0);
    std::vector<uint8_t> imageA(DataMemory, DataMemory + DataMemorySize);
    FillSpectra(windows, lift);
    std::vector<uint8_t> imageB(DataMemory, DataMemory + DataMemorySize);
    std::memcpy(DataMemory, imageA.data(), DataMemorySize); // the first tick brings B
    for (int i = 0; i < 3; ++i) {
        Settings.Running[i] = changing ? 1 : 0;
        Elapsed[i] = 0.25 + i;
    }

    auto tick = [&] {
        for (QTimer *t : timers)
            QMetaObject::invokeMethod(t, "timeout", Qt::DirectConnection);
        QCoreApplication::processEvents();
    };
    for (int i = 0; i < 3; ++i) // settle: the first ticks draw everything
        tick();

    const int64_t allBefore = counter->all, plotsBefore = counter->plots;
    int64_t n = 0;
    for (auto _ : state) {
        if (changing) {
            state.PauseTiming();
            std::memcpy(DataMemory, (n % 2 ? imageA : imageB).data(), DataMemorySize);
            for (int i = 0; i < 3; ++i)
                Elapsed[i] += 1.0 / 86400;
            state.ResumeTiming();
        }
        tick();
        ++n;
    }
    const int64_t plotPaints = counter->plots - plotsBefore;
    // Fields painted from looked-up glyphs rather than laid out each time.
    int glyphFields = 0;
    for (TFGraph *g : graphs)
        for (TTextLabel *l : g->findChildren<TTextLabel *>())
            glyphFields += l->PaintsFromGlyphs();
    state.counters["glyph_fields"] = glyphFields;
    state.counters["paints/tick"] = double(counter->all - allBefore) / double(std::max<int64_t>(n, 1));
    state.counters["plot_paints/tick"] = double(plotPaints) / double(std::max<int64_t>(n, 1));
    if (changing && plotPaints < n * windows)
        state.SkipWithError("a tick with every channel changing painted no plot");

    TFGraph::SpectrumWindowsMayClose = true;
    delete frame;
    TFGraph::SpectrumWindowsMayClose = false;
}

void BM_PeakPanel(benchmark::State &state)
{
    Settings = DefaultSettings();
    Settings.InterfaceKind = 2;
    Settings.InputCount = 1;
    Settings.ChannelCount = 16384;
    Settings.ViewWidth = 16384;
    const auto channel = [](double e) { return device::ChannelOfEnergy(e, 16384); };
    Settings.LeftPeakCentroid = channel(59.54);
    Settings.LeftPeakEnergy = 59.54;
    Settings.RightPeakCentroid = channel(1332.49);
    Settings.RightPeakEnergy = 1332.49;
    Settings.Marker[0] = static_cast<int32_t>(channel(600));
    Settings.Marker[1] = static_cast<int32_t>(channel(720));
    View = ViewChoices{};
    auto *frame = new TFRYV;
    frame->setAttribute(Qt::WA_DeleteOnClose, false);
    frame->resize(1000, 800);
    frame->show();
    emit frame->MWind->aboutToShow();
    frame->MNew->trigger();
    TFGraph *g = frame->SpectrumWindows().at(0);
    g->findChild<QTimer *>(QStringLiteral("TimerRis"))->stop();
    std::vector<device::EmissionLine> lines;
    device::BuiltinSourceLines("mix", lines);
    const std::vector<double> p = device::DetectorResponse(lines, 16384, 1.0);
    for (int c = 0; c < 16384; ++c)
        WriteChannel(c, 1, static_cast<int32_t>(p[size_t(c)] * 4e6 + 3));
    View.PeakPanel = false;
    frame->NPeakPanelClick();
    auto *panel = frame->PeakPanel;
    if (!panel) {
        state.SkipWithError("no peak panel");
        return;
    }
    QCoreApplication::processEvents();
    for (auto _ : state) {
        panel->Refresh(g);
        QCoreApplication::processEvents();
    }
    state.counters["peaks"] = double(panel->Peaks().size());
    TFGraph::SpectrumWindowsMayClose = true;
    delete frame;
    TFGraph::SpectrumWindowsMayClose = false;
    View = ViewChoices{};
}

BENCHMARK(BM_PlainRead64K)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tick)
    ->ArgNames({"windows", "channels", "changing", "log_auto"})
    ->ArgsProduct({{1, 3}, {1024, 4096, 16384}, {0, 1, 2}, {0}})
    ->Args({3, 16384, 1, 1})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PeakPanel)->Unit(benchmark::kMicrosecond);

// Adds x_read, the time as a multiple of the plain read, to every line.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        std::vector<Run> out = runs;
        for (Run &r : out) {
            const std::string key = r.run_type == Run::RT_Aggregate ? r.aggregate_name : std::string();
            if (r.run_name.function_name == "BM_PlainRead64K")
                floor_[key] = r.GetAdjustedCPUTime();
            const auto it = floor_.find(key);
            if (it != floor_.end() && it->second > 0 && !(r.run_type == Run::RT_Aggregate && r.aggregate_unit != benchmark::kTime))
                r.counters["x_read"] = r.GetAdjustedCPUTime() / it->second;
        }
        ConsoleReporter::ReportRuns(out);
    }

private:
    std::map<std::string, double> floor_;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {}); // platform notices
    QApplication app(argc, argv);
    PaintCounter paints;
    counter = &paints;
    app.installEventFilter(&paints);
    SettingsFilePath = "/proc/version"; // read-only: used as it is, never written
    // The view choices the benchmarks set stay out of the user's settings.
    QTemporaryDir userSettings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, userSettings.path());
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
