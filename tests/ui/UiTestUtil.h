// Shared set-up of the window tests: the program's globals back to their
// start-up values, scripted answers for message boxes, and helpers to reach
// the windows.
#pragma once

#include "analysis/Analysis.h"
#include "ui/platform/Platform.h"
#include "ui/graph/UGraph.h"
#include "ui/graph/ViewChoices.h"
#include "ui/main/UnitRYV.h"
#include "core/Uryv.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace ui_test {

// The scripted answerer: answers in order, then Yes/Ok for anything more.
struct Boxes {
    QList<Platform::Answer> script;
    Boxes()
    {
        Platform::BoxLog().clear();
        Platform::SetBoxAnswerer([this](const Platform::BoxRequest &r) {
            if (!script.isEmpty())
                return script.takeFirst();
            return r.buttons == Platform::Buttons::YesNo ? Platform::Answer::Yes : Platform::Answer::Ok;
        });
    }
    ~Boxes() { Platform::SetBoxAnswerer(nullptr); }
    const QList<Platform::BoxRequest> &log() const { return Platform::BoxLog(); }
};

// Everything back to the state of a fresh start with default settings.
inline void ResetProgram()
{
    // The user's view choices live in a folder of the test's own, empty.
    static QTemporaryDir userSettings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, userSettings.path());
    QSettings(QStringLiteral("RYV_demo"), QStringLiteral("RYV_demo")).clear();
    View = ViewChoices{};
    ResetCoreState();
    ResetAnalysisState();
    Settings = DefaultSettings();
    MemoryInitPending = true;
    Platform::BoxLog().clear();
    Platform::SetHintsEnabled(true);
    Platform::SetFileDialogHook(nullptr);
    Platform::SetPrintDialogHook(nullptr);
}

// A frame with `count` spectrum windows opened through the windows menu.
inline TFRYV *FrameWithWindows(int count)
{
    auto *frame = new TFRYV;
    frame->setAttribute(Qt::WA_DeleteOnClose, false);
    frame->move(0, 0);
    frame->resize(900, 700);
    frame->show();
    for (int i = 0; i < count; ++i) {
        emit frame->MWind->aboutToShow();
        frame->MNew->trigger();
    }
    QApplication::processEvents();
    return frame;
}

// A read-only settings file: the exit leaves it alone and says nothing.
inline constexpr const char *kLockedSettingsPath = "/proc/version";

// Deletes a frame without the exit question and without writing settings.
inline void DisposeFrame(TFRYV *frame)
{
    TFGraph::SpectrumWindowsMayClose = true;
    SettingsFilePath = kLockedSettingsPath;
    delete frame;
    TFGraph::SpectrumWindowsMayClose = false;
}

// A frame with `count` spectrum windows for one test case, disposed of when
// the case ends, also when it fails halfway.
struct OpenWindows {
    TFRYV *frame;
    explicit OpenWindows(int count) : frame(FrameWithWindows(count)) {}
    ~OpenWindows() { DisposeFrame(frame); }
    OpenWindows(const OpenWindows &) = delete;
    OpenWindows &operator=(const OpenWindows &) = delete;
    TFRYV *operator->() const { return frame; }
    TFGraph *w(int i) const { return frame->SpectrumWindows().at(i); }
    // Makes window i the active one, as a click on its title would.
    TFGraph *Activate(int i) const
    {
        frame->MdiArea->setActiveSubWindow(frame->MdiArea->subWindowList().at(i));
        QApplication::processEvents();
        return w(i);
    }
};

inline QRgb PlotPixel(TFGraph *g, int x, int y) { return g->Plot().Raster().pixel(x, y) | 0xFF000000u; }

// A control of a window by its object name; the test stops when there is
// none of that name and type.
template <typename T = QWidget> T *Part(QObject *window, const char *name)
{
    T *w = window->findChild<T *>(QString::fromLatin1(name));
    if (!w)
        qFatal("no control %s", name);
    return w;
}

} // namespace ui_test
