// One refresh of a spectrum window at 16384 channels (plot columns,
// integral, spectrum drawing), against a plain read of the data memory.
#include "analysis/Analysis.h"
#include "bench/PlainRead.h"
#include "ui/graph/UGraph.h"
#include "core/Uryv.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace {
TFGraph *window = nullptr;

void Setup16K()
{
    Settings = DefaultSettings();
    Settings.InterfaceKind = 2;
    Settings.InputCount = 1;
    Settings.ChannelCount = 16384;
    Settings.ViewFirst = 0;
    Settings.ViewWidth = 16384;
    Settings.VertScale = 1600;
    Settings.Marker[0] = 0;
    Settings.Marker[1] = 16383;
    DataFromMemory = 1;
    for (int c = 0; c < 16384; ++c)
        WriteChannel(c, 1, (c * 37) % 2000);
}

void BM_DW16K(benchmark::State &state)
{
    Setup16K();
    int32_t h[512];
    for (auto _ : state) {
        DW(1, h);
        benchmark::DoNotOptimize(h);
    }
}

void BM_Integral16K(benchmark::State &state)
{
    Setup16K();
    for (auto _ : state)
        benchmark::DoNotOptimize(Integral(1));
}

void BM_WindowRefresh16K(benchmark::State &state)
{
    Setup16K();
    window->InputNumber = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Integral(window->InputNumber));
        window->RisSpectr(); // runs DW and draws the 512 columns
    }
}

BENCHMARK(BM_PlainRead64K);
BENCHMARK(BM_DW16K);
BENCHMARK(BM_Integral16K);
BENCHMARK(BM_WindowRefresh16K);
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    window = new TFGraph;
    window->setWindowTitle(QStringLiteral("Вход 1"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete window;
    return 0;
}
