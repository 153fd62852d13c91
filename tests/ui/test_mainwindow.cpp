// The frame window: menus, phases, spectrum-window management, shortcuts,
// the device menu, help and hints, the exit.
#include "ui/platform/AppSetup.h"
#include "tests/ui/UiTestUtil.h"

#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QActionGroup>
#include <QScrollBar>
#include <QToolTip>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextBrowser>

#include <cerrno>
#include <cstring>

using namespace ui_test;

namespace {
QStringList BarCaptions(TFRYV *f)
{
    QStringList out;
    for (QAction *a : f->menuBar()->actions())
        out << a->text();
    return out;
}

void Open(QMenu *m) { emit m->aboutToShow(); }

QKeySequence Key(QKeyCombination k) { return QKeySequence(k); }
} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() { ResetProgram(); }

    void frameHasCaptionGeometryAndInitialPhase()
    {
        TFRYV f;
        QCOMPARE(f.windowTitle(), QStringLiteral("RYV_demo"));
        QCOMPARE(f.geometry(), QRect(220, 150, 560, 352));
        QCOMPARE(BarCaptions(&f), (QStringList{"&Окна", "&Старт", "О&чистить", "&Действие", "&Устройство", "&Вид", "&Помощь"}));
        QVERIFY(f.MWind->menuAction()->isEnabled());
        QVERIFY(!f.MStart->menuAction()->isEnabled());
        QVERIFY(!f.MClear->isEnabled());
        QVERIFY(!f.MOperation->menuAction()->isEnabled());
        QVERIFY(f.MDevice->menuAction()->isEnabled());
        for (QAction *a : {f.MCascade, f.MHor, f.MVert, f.MIcons, f.MCloseAll})
            QVERIFY(!a->isEnabled());
        QVERIFY(IsDefaultItem(f.MNew));
        QVERIFY(IsDefaultItem(f.NIn_All));
        QVERIFY(IsDefaultItem(f.NHRYV));
        QCOMPARE(f.NStart->text(), QStringLiteral("Стар&т"));
        QCOMPARE(f.NStart->shortcut(), Key(Qt::CTRL | Qt::Key_S));
        QCOMPARE(f.NStop->shortcut(), Key(Qt::CTRL | Qt::ALT | Qt::Key_S));
        QCOMPARE(f.MClear->shortcut(), Key(Qt::CTRL | Qt::Key_Delete));
        QCOMPARE(f.NHintWin->text(), QStringLiteral("&Выключить окна подсказки"));
        QVERIFY2(f.NIn_1->shortcut().isEmpty(), "no shortcut before the windows menu opens");
        f.setAttribute(Qt::WA_DeleteOnClose, false);
        SettingsFilePath = kLockedSettingsPath;
    }

    void windowsMenuFillsMemoryUntilTheFirstRequest()
    {
        TFRYV f;
        SettingsFilePath = kLockedSettingsPath;
        DataFromMemory = 1;
        QCOMPARE(ReadChannel(5, 1), 0);
        Open(f.MWind);
        QCOMPARE(ReadChannel(5, 1), 16843009);
        WriteChannel(5, 1, 7);
        Open(f.MWind);
        QCOMPARE(ReadChannel(5, 1), 16843009);
        QCOMPARE(f.NIn_1->shortcut(), Key(Qt::CTRL | Qt::Key_1));
        QCOMPARE(f.NIn_3->shortcut(), Key(Qt::CTRL | Qt::Key_3));
        f.MNew->trigger();
        QVERIFY(!MemoryInitPending);
        WriteChannel(5, 1, 7);
        Open(f.MWind);
        QCOMPARE(ReadChannel(5, 1), 7);
    }

    void threeWindowsThenNewIsDisabled()
    {
        OpenWindows f(3);
        const auto windows = f->SpectrumWindows();
        QCOMPARE(windows.size(), 3);
        QCOMPARE(windows[0]->windowTitle(), QStringLiteral("Вход 1"));
        QCOMPARE(windows[1]->windowTitle(), QStringLiteral("Вход 2"));
        QCOMPARE(windows[2]->windowTitle(), QStringLiteral("Вход 3"));
        QCOMPARE(windows[2]->InputNumber, 3);
        Open(f->MWind);
        QVERIFY(!f->MNew->isEnabled());
        f->MNew->trigger(); // not reachable from the menu: nothing is created
        QCOMPARE(f->SpectrumWindowCount(), 3);
        for (QAction *a : {f->MCascade, f->MHor, f->MVert, f->MIcons, f->MCloseAll})
            QVERIFY(a->isEnabled());
        QVERIFY(f->MStart->menuAction()->isEnabled());
        QVERIFY(f->MClear->isEnabled());
        QCOMPARE(BarCaptions(f.frame), (QStringList{"&Окна", "&Файл", "&Время", "&Старт", "О&чистить", "&Действие",
                                              "У&правление", "&Измерение", "&Устройство", "&Вид", "&Помощь"}));
    }

    void activeWindowMenusJoinTheBarAndStayWithoutFocus()
    {
        OpenWindows f(2);
        const auto windows = f->SpectrumWindows();
        auto subs = f->MdiArea->subWindowList(QMdiArea::CreationOrder);
        f->MdiArea->setActiveSubWindow(subs[0]);
        QCOMPARE(f->MenuWindow(), windows[0]);
        QVERIFY(f->menuBar()->actions().contains(windows[0]->NFile->menuAction()));
        f->MdiArea->setActiveSubWindow(subs[1]);
        QCOMPARE(f->MenuWindow(), windows[1]);
        QVERIFY(f->menuBar()->actions().contains(windows[1]->NMeasuring->menuAction()));
        QVERIFY(!f->menuBar()->actions().contains(windows[0]->NFile->menuAction()));
        // no active window (the application lost the focus): the menus stay
        f->MdiArea->setActiveSubWindow(nullptr);
        QCOMPARE(f->MenuWindow(), windows[1]);
        QVERIFY(f->menuBar()->actions().contains(windows[1]->MTime));
        QCOMPARE(f->menuBar()->actions().size(), 11);
    }

    void oneWindowKeepsArrangingDisabled()
    {
        OpenWindows f(1);
        for (QAction *a : {f->MCascade, f->MHor, f->MVert, f->MIcons})
            QVERIFY(!a->isEnabled());
        QVERIFY(f->MCloseAll->isEnabled());
        Open(f->MWind);
        f->MNew->trigger();
        for (QAction *a : {f->MCascade, f->MHor, f->MVert, f->MIcons})
            QVERIFY(a->isEnabled());
    }

    void closeAllMinimisesAndKeepsCounting()
    {
        OpenWindows f(3);
        f->MCloseAll->trigger();
        QApplication::processEvents();
        const auto subs = f->MdiArea->subWindowList();
        QCOMPARE(subs.size(), 3);
        for (QMdiSubWindow *s : subs)
            QVERIFY(s->isMinimized());
        Open(f->MWind);
        QVERIFY(!f->MNew->isEnabled());
        // a closed window keeps refreshing
        TFGraph *g = f->SpectrumWindows()[0];
        Settings.Running[0] = 1;
        g->TimerRisTimer();
        QCOMPARE(Part<QLabel>(g, "LTime1")->palette().color(QPalette::Window), QColor(Qt::white));
    }

    void tilingAndCascadeKeepWindowsUsable()
    {
        OpenWindows f(3);
        f->MHorClick();
        auto subs = f->MdiArea->subWindowList(QMdiArea::CreationOrder);
        const int w = f->MdiArea->viewport()->width();
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(subs[i]->geometry().width(), w);
            if (i > 0)
                QVERIFY(subs[i]->geometry().top() > subs[i - 1]->geometry().top());
        }
        f->MVertClick();
        for (int i = 1; i < 3; ++i) {
            QVERIFY(subs[i]->geometry().left() > subs[i - 1]->geometry().left());
            QCOMPARE(subs[i]->geometry().top(), 0);
        }
        // Cascade: every window back at its full size, each one lower and
        // further right, the active one on top.
        f->MdiArea->setActiveSubWindow(subs[0]);
        f->MCascadeClick();
        QApplication::processEvents();
        const QList<QMdiSubWindow *> order = {subs[1], subs[2], subs[0]};
        for (int i = 0; i < 3; ++i) {
            QVERIFY(!order[i]->isMinimized());
            QCOMPARE(order[i]->widget()->size(), QSize(640, 452));
            if (i > 0) {
                QVERIFY(order[i]->y() > order[i - 1]->y());
                QVERIFY(order[i]->x() > order[i - 1]->x());
            }
        }
        QCOMPARE(f->MdiArea->activeSubWindow(), subs[0]);
        QVERIFY(subs[0]->isAncestorOf(f->MdiArea->viewport()->childAt(subs[0]->geometry().center())));
    }

    void shortcutsActOnlyWhenTheirMenusAreEnabled()
    {
        Boxes boxes;
        TFRYV f;
        SettingsFilePath = kLockedSettingsPath;
        QVERIFY(f.DispatchShortcut(Key(Qt::CTRL | Qt::Key_S)));
        QCOMPARE(Settings.Running[0], 0);
        Settings.ActOnAllInputs = 0;
        QVERIFY(f.DispatchShortcut(Key(Qt::CTRL | Qt::Key_A)));
        QCOMPARE(Settings.ActOnAllInputs, 0);
        f.DispatchShortcut(Key(Qt::CTRL | Qt::Key_Delete));
        QVERIFY(boxes.log().isEmpty());
        QVERIFY2(!f.DispatchShortcut(Key(Qt::CTRL | Qt::Key_2)), "Ctrl+2 exists only after the windows menu opened");

        Open(f.MWind);
        f.MNew->trigger();
        Settings.ActOnAllInputs = 1;
        QVERIFY(f.DispatchShortcut(Key(Qt::CTRL | Qt::Key_S)));
        QCOMPARE(Settings.Running[0], 1);
        QCOMPARE(Settings.Running[2], 1);
        QVERIFY(f.TimerExp->isActive());
        QVERIFY2(IsDefaultItem(f.NStart), "the opening handler ran before the item, while nothing ran");
        QVERIFY(f.DispatchShortcut(Key(Qt::CTRL | Qt::ALT | Qt::Key_S)));
        QVERIFY2(IsDefaultItem(f.NStop), "Stop was the default when the menu's handler ran");
        QCOMPARE(Settings.Running[0], 0);
        QVERIFY(!f.TimerExp->isActive());
        QVERIFY(f.DispatchShortcut(Key(Qt::CTRL | Qt::Key_2)));
        QCOMPARE(Settings.ActionInput, 2);
        QCOMPARE(Settings.ActOnAllInputs, 0);
        QVERIFY(f.NIn_2->isChecked());
    }

    void realKeyPressGoesThroughTheDispatcher()
    {
        OpenWindows f(1);
        TFGraph *g = f->SpectrumWindows()[0];
        QTest::keyClick(Part<QPushButton>(g, "BGistogramm"), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(Settings.Running[0], 1);
        QCOMPARE(Settings.Running[1], 1);
    }

    void everyKeyIsSeenOnceWhereverItLands()
    {
        OpenWindows f(1);
        TFGraph *g = f->SpectrumWindows()[0];
        Part<QWidget>(g, "PTimeSet")->show();
        // a key taken by a child editor, then keys to the window and its parents
        Part<QSpinBox>(g, "SpinEditDay")->selectAll();
        QTest::keyClick(Part<QSpinBox>(g, "SpinEditDay"), Qt::Key_5);
        QCOMPARE(Part<QSpinBox>(g, "SpinEditDay")->value(), 5); // typed once, not twice
        QTest::keyClick(g, Qt::Key_Insert);
        QCOMPARE(Settings.ShowHints, 0);
        QTest::keyClick(Part<QPushButton>(g, "BGistogramm"), Qt::Key_Insert);
        QCOMPARE(Settings.ShowHints, 1);
        QTest::keyClick(g, Qt::Key_Insert);
        QCOMPARE(Settings.ShowHints, 0);
        QTest::keyClick(Part<QSpinBox>(g, "SpinEditDay"), Qt::Key_Insert);
        QCOMPARE(Settings.ShowHints, 1);
        // a plain key that is no shortcut still reaches the editor
        QTest::keyClick(Part<QSpinBox>(g, "SpinEditDay"), Qt::Key_Backspace);
        QTest::keyClick(Part<QSpinBox>(g, "SpinEditDay"), Qt::Key_7);
        QCOMPARE(Part<QSpinBox>(g, "SpinEditDay")->value(), 7);
        // and the window previews it: Page Down zooms in once, not twice
        Settings.ViewWidth = 1024;
        QTest::keyClick(Part<QSpinBox>(g, "SpinEditDay"), Qt::Key_PageDown);
        QCOMPARE(Settings.ViewWidth, 512);
        QTest::keyClick(g, Qt::Key_PageDown);
        QCOMPARE(Settings.ViewWidth, 256);
    }

    void actionMenuFollowsInputCount()
    {
        TFRYV f;
        SettingsFilePath = kLockedSettingsPath;
        Settings.InputCount = 1;
        Open(f.MWind);
        QVERIFY(f.NIn_1->isEnabled());
        QVERIFY(!f.NIn_2->isEnabled());
        QVERIFY(!f.NIn_3->isEnabled());
        QVERIFY(!f.NIn_All->isEnabled());
        Settings.InputCount = 2;
        Open(f.MWind);
        QVERIFY(f.NIn_2->isEnabled());
        QVERIFY(!f.NIn_3->isEnabled());
        QVERIFY(f.NIn_All->isEnabled());
        Settings.ActOnAllInputs = 0;
        Settings.ActionInput = 3;
        Open(f.MOperation);
        QVERIFY(f.NIn_3->isChecked());
        Settings.ActOnAllInputs = 1;
        Open(f.MOperation);
        QVERIFY(f.NIn_All->isChecked());
        f.NIn_AllClick();
        QCOMPARE(Settings.ActionInput, 3);
    }

    void startMenuDefaultFollowsWhatWouldStop()
    {
        TFRYV f;
        SettingsFilePath = kLockedSettingsPath;
        Open(f.MStart);
        QVERIFY(IsDefaultItem(f.NStart));
        QVERIFY(!IsDefaultItem(f.NStop));
        Settings.ActOnAllInputs = 0;
        Settings.ActionInput = 2;
        Settings.Running[0] = 1;
        Open(f.MStart);
        QVERIFY2(IsDefaultItem(f.NStart), "input 2 is stopped");
        Settings.Running[1] = 1;
        Open(f.MStart);
        QVERIFY(IsDefaultItem(f.NStop));
        QVERIFY(!IsDefaultItem(f.NStart));
    }

    void runningInputStartsTheTimerOnlyWithTheFirstWindow()
    {
        Settings.Running[0] = 1;
        OpenWindows f(0);
        QVERIFY(!f->TimerExp->isActive());
        Open(f->MWind);
        QVERIFY(!f->TimerExp->isActive());
        f->MNew->trigger();
        QVERIFY(f->TimerExp->isActive());
    }

    void clearAsksFirst()
    {
        Boxes boxes;
        OpenWindows f(1);
        QCOMPARE(ReadChannel(3, 1), 16843009);
        boxes.script = {Platform::Answer::No};
        f->MClear->trigger();
        QCOMPARE(boxes.log().size(), 1);
        QCOMPARE(boxes.log()[0].caption, QStringLiteral("  Спектр не сохранен !!!"));
        QCOMPARE(boxes.log()[0].text, QStringLiteral("Обнулить память данных?"));
        QVERIFY(boxes.log()[0].icon == Platform::Icon::Question);
        QVERIFY(boxes.log()[0].buttons == Platform::Buttons::YesNo);
        QCOMPARE(ReadChannel(3, 1), 16843009);
        QVERIFY(boxes.log()[0].defaultAnswer == Platform::Answer::No);
        // The real box: Enter presses No and the spectra stay.
        Platform::SetBoxAnswerer(nullptr);
        QString shown;
        QTimer::singleShot(0, [&shown] {
            QWidget *box = QApplication::activeModalWidget();
            if (!box)
                return;
            shown = box->windowTitle();
            QTest::keyClick(box, Qt::Key_Return);
        });
        f->MClear->trigger();
        QCOMPARE(shown, QStringLiteral("  Спектр не сохранен !!!"));
        QCOMPARE(ReadChannel(3, 1), 16843009);
        Boxes answered;
        answered.script = {Platform::Answer::Yes};
        f->MClear->trigger();
        QCOMPARE(ReadChannel(3, 1), 0);
        QCOMPARE(ReadChannel(3, 3), 0);
    }

    void deviceMenuMarksAndEnabledStates()
    {
        TFRYV f;
        SettingsFilePath = kLockedSettingsPath;
        // PCMCIA from the defaults
        f.MPCMCIA->trigger();
        QCOMPARE(Settings.InterfaceKind, 2);
        QCOMPARE(Settings.InputCount, 1);
        QCOMPARE(Settings.ChannelCount, 16384);
        QCOMPARE(Settings.ParallelConversion, 1);
        QVERIFY2(!f.MPCMCIA->isChecked(), "a click does not check the item by itself");
        Open(f.MDevice);
        QVERIFY(f.MPCMCIA->isChecked());
        QVERIFY(!f.MISA->isChecked());
        QVERIFY(f.MIn1->isEnabled() && f.MIn1->isChecked());
        QVERIFY(!f.MIn2->isEnabled() && !f.MIn3->isEnabled());
        QVERIFY(f.M16K->isEnabled() && f.M16K->isChecked());
        QVERIFY(!f.M1K->isEnabled() && !f.M4K->isEnabled());
        QVERIFY(f.NTypePar->isEnabled() && f.NTypePar->isChecked());
        QVERIFY(!f.NTyprOther->isEnabled());
        QVERIFY(f.MInterface->actions()[0]->actionGroup()->isExclusive());
        // a click changes the settings but keeps the marks of the last opening
        f.M16K->trigger();
        QVERIFY(f.M16K->isChecked());
        f.MISA->trigger();
        QVERIFY(f.MPCMCIA->isChecked());
        QVERIFY(!f.MISA->isChecked());
        f.MPCMCIA->trigger();

        // Print then ISA
        f.MPrint->trigger();
        f.MISA->trigger();
        QCOMPARE(Settings.InterfaceKind, 0);
        QCOMPARE(Settings.InputCount, 3);
        QCOMPARE(Settings.ChannelCount, 1024);
        QCOMPARE(Settings.ParallelConversion, 0);
        Open(f.MDevice);
        QVERIFY(f.MISA->isChecked());
        QVERIFY(!f.MPrint->isChecked());
        QVERIFY(f.MIn1->isEnabled() && f.MIn2->isEnabled() && f.MIn3->isEnabled());
        QVERIFY(f.MIn3->isChecked());
        QVERIFY(f.M1K->isEnabled() && f.M1K->isChecked());
        QVERIFY(!f.M4K->isEnabled() && !f.M16K->isEnabled());
        QVERIFY(f.NTyprOther->isChecked());

        // ISA, other type: one input with 1024 channels gives 4096, 16384 stays
        f.MIn1->trigger();
        QCOMPARE(Settings.ChannelCount, 4096);
        Open(f.MDevice);
        QVERIFY(f.M4K->isChecked() && f.M4K->isEnabled());
        QVERIFY(!f.M1K->isEnabled() && !f.M16K->isEnabled());
        Settings.ChannelCount = 16384;
        f.MIn1->trigger();
        QCOMPARE(Settings.ChannelCount, 16384);
        // the menu then offers 4K only and leaves the type items as they were
        f.NTypePar->setEnabled(false);
        Open(f.MDevice);
        QVERIFY(f.M4K->isChecked() && f.M4K->isEnabled() && !f.M16K->isEnabled());
        QVERIFY(!f.NTypePar->isEnabled() && f.NTyprOther->isChecked());

        // PCI
        f.MPCI->trigger();
        Open(f.MDevice);
        QVERIFY(f.MPCI->isChecked());
        QVERIFY(!f.MIn1->isEnabled() && !f.MIn2->isEnabled() && f.MIn3->isChecked());
        QVERIFY(!f.NTypePar->isEnabled() && f.NTyprOther->isChecked());

        // ISA parallel with two inputs: 4K and 16K are offered, 1 input shown
        f.MISA->trigger();
        Open(f.MDevice);
        f.MIn2->trigger();
        Open(f.MDevice);
        f.NTypePar->trigger();
        Open(f.MDevice);
        QVERIFY(f.MIn1->isChecked());
        QVERIFY(f.M4K->isEnabled() && f.M16K->isEnabled() && !f.M1K->isEnabled());
        QCOMPARE(Settings.InputCount, 2);

        // an interface kind from a damaged file leaves the marks alone
        const bool was = f.MISA->isChecked();
        Settings.InterfaceKind = 9;
        Open(f.MDevice);
        QCOMPARE(f.MISA->isChecked(), was);
    }

    void channelCountShrinkKeepsViewAndMarkersInRange()
    {
        OpenWindows f(1);
        f->MPCMCIA->trigger();
        Settings.ViewWidth = 16384;
        Settings.ViewFirst = 0;
        Settings.Marker[0] = 8000;
        Settings.Marker[1] = 16383;
        f->MPrint->trigger(); // 16K -> 1K
        QCOMPARE(Settings.ChannelCount, 1024);
        QCOMPARE(Settings.ViewWidth, 1024);
        QCOMPARE(Settings.ViewFirst, 0);
        QCOMPARE(Settings.Marker[0], 1023);
        QCOMPARE(Settings.Marker[1], 1023);
        TFGraph *g = f->SpectrumWindows()[0];
        OutOfRangeChannelAccesses = 0;
        g->TimerRisTimer();
        g->HorisontMas();
        g->TimerRisTimer();
        QCOMPARE(OutOfRangeChannelAccesses, quint64(0));
        QCOMPARE(Settings.ViewFirst, 0);
    }

    void hintsSwitchTwice()
    {
        TFRYV f;
        SettingsFilePath = kLockedSettingsPath;
        QVERIFY(f.DispatchShortcut(Key(Qt::Key_Insert)));
        QCOMPARE(Settings.ShowHints, 0);
        QVERIFY(!Platform::HintsEnabled());
        Open(f.MHelp);
        QCOMPARE(f.NHintWin->text(), QStringLiteral("Включить окна подсказки"));
        QVERIFY(f.DispatchShortcut(Key(Qt::Key_Insert)));
        QCOMPARE(Settings.ShowHints, 1);
        QVERIFY(Platform::HintsEnabled());
        Open(f.MHelp);
        QCOMPARE(f.NHintWin->text(), QStringLiteral("Выключить окна подсказки"));
        // tool tips are swallowed while hints are off, shown while on
        QWidget w;
        w.setToolTip(QStringLiteral("подсказка"));
        w.resize(50, 50);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        f.NHintWinClick();
        QVERIFY(!Platform::HintsEnabled());
        QHelpEvent off(QEvent::ToolTip, QPoint(5, 5), w.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&w, &off);
        QVERIFY(!QToolTip::isVisible());
        f.NHintWinClick();
        QHelpEvent on(QEvent::ToolTip, QPoint(5, 5), w.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&w, &on);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("подсказка"));
        QToolTip::hideText();
    }

    void helpOpensAtContextsAndReportsAMissingFile()
    {
        Boxes boxes;
        TFRYV f;
        SettingsFilePath = kLockedSettingsPath;
        if (Platform::HelpFilePath().isEmpty())
            QSKIP("the help file is copied beside the executable by the build");
        f.NHRYV->trigger();
        QWidget *viewer = Platform::HelpWindow();
        QVERIFY(viewer);
        auto *browser = viewer->findChild<QTextBrowser *>();
        QVERIFY(browser);
        QVERIFY(browser->toPlainText().contains(QStringLiteral("Меню «Окна»")));
        QVERIFY2(!viewer->testAttribute(Qt::WA_QuitOnClose), "an open help window must not keep the program alive");
        f.NAbProgramm->trigger();
        QVERIFY(boxes.log().isEmpty());
        QVERIFY(browser->toPlainText().contains(QStringLiteral("Версия " RYV_VERSION ".")));
        viewer->close();

        // without a help file: a plain message, and the program goes on
        const QString saved = QDir::currentPath();
        QTemporaryDir empty;
        QDir::setCurrent(empty.path());
        const bool found = !Platform::HelpFilePath().isEmpty();
        if (!found) {
            f.NHRYV->trigger();
            QCOMPARE(boxes.log().size(), 1);
            QCOMPARE(boxes.log()[0].text, QStringLiteral("Файл справки Ryv.hlp не найден."));
            QVERIFY(boxes.log()[0].icon == Platform::Icon::NoIcon);
        }
        QDir::setCurrent(saved);
        if (found)
            QSKIP("a help file is installed beside the test executable");
    }

    void f1OverAHighlightedItemOpensItsContext()
    {
        Boxes boxes;
        TFRYV f;
        SettingsFilePath = kLockedSettingsPath;
        if (Platform::HelpFilePath().isEmpty())
            QSKIP("the help file is copied beside the executable by the build");
        f.show();
        f.MDevice->popup(QPoint(10, 10));
        f.MDevice->setActiveAction(f.MInterface->menuAction());
        QTest::keyClick(f.MDevice, Qt::Key_F1);
        QWidget *viewer = Platform::HelpWindow();
        QVERIFY(viewer && viewer->isVisible());
        auto *browser = viewer->findChild<QTextBrowser *>();
        // context 11, the device menu, lies far down the help text
        QVERIFY(browser->verticalScrollBar()->value() > 0);
        const QTextCursor top = browser->cursorForPosition(QPoint(5, 5));
        QVERIFY2(top.block().text().contains(QStringLiteral("Устройство")) ||
                     browser->verticalScrollBar()->value() == browser->verticalScrollBar()->maximum(),
                 qPrintable(top.block().text()));
        f.MDevice->close();
        viewer->close();
        QVERIFY(boxes.log().isEmpty());
    }

    // Start-up gives every window the program's icon and, for a Russian
    // user only, Qt's own captions in Russian: the exit question says Да / Нет.
    void iconAndQtCaptionsFollowTheUser()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        Platform::SetUpApplication(*qApp);
        QVERIFY2(qApp->findChildren<QTranslator *>().isEmpty(), "Qt's captions change under a German locale");
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        Platform::SetUpApplication(*qApp);
        QLocale::setDefault(QLocale::c());
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("ryv_demo"));
        OpenWindows f(1);
        const QColor blue(0x1f, 0x4f, 0xd8); // the icon's histogram
        QCOMPARE(f->windowIcon().pixmap(32, 32).toImage().pixelColor(16, 20), blue);
        QCOMPARE(f->MdiArea->subWindowList()[0]->windowIcon().pixmap(32, 32).toImage().pixelColor(16, 20), blue);

        QString yes, no;
        QTimer::singleShot(0, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                yes = box->button(QMessageBox::Yes)->text();
                no = box->button(QMessageBox::No)->text();
                box->button(QMessageBox::No)->click();
            }
        });
        QVERIFY(!f->close());
        qDeleteAll(qApp->findChildren<QTranslator *>());
        QCOMPARE(yes, QStringLiteral("&Да"));
        QCOMPARE(no, QStringLiteral("&Нет"));
    }

    void exitAnsweredNoWritesNothing()
    {
        Boxes boxes;
        QTemporaryDir dir;
        SettingsFilePath = dir.filePath(QStringLiteral("RYV_travok.CFG")).toStdString();
        auto *f = new TFRYV;
        f->show();
        boxes.script = {Platform::Answer::No};
        QVERIFY(!f->close());
        QCOMPARE(boxes.log().size(), 1);
        QCOMPARE(boxes.log()[0].caption, QStringLiteral("  Вы делаете попытку выйти из программы !"));
        QCOMPARE(boxes.log()[0].text, QStringLiteral("Действительно выходите ?"));
        QVERIFY(boxes.log()[0].icon == Platform::Icon::Question);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("RYV_travok.CFG"))));
        QVERIFY(f->isVisible());
        boxes.script = {Platform::Answer::Yes};
        Settings.Marker[0] = 321;
        QVERIFY(f->close());
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QFile file(dir.filePath(QStringLiteral("RYV_travok.CFG")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray b = file.readAll();
        QCOMPARE(b.size(), 152);
        int32_t marker1;
        std::memcpy(&marker1, b.constData() + 40, 4);
        QCOMPARE(marker1, 321);

        // Settings that cannot be written: a box with the path and the reason, then the end.
        SettingsFilePath = "/nonexistent-dir/RYV_travok.CFG";
        f = new TFRYV;
        f->show();
        boxes.script = {Platform::Answer::Yes};
        QVERIFY(f->close());
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(boxes.log().size(), 4);
        QCOMPARE(boxes.log()[3].caption, QStringLiteral("  Настройки не сохранены !!!"));
        QCOMPARE(boxes.log()[3].text, QStringLiteral("Файл настроек /nonexistent-dir/RYV_travok.CFG не может быть создан: ") +
                                          QString::fromLocal8Bit(std::strerror(ENOENT)) + QLatin1Char('.'));
        QVERIFY(boxes.log()[3].icon == Platform::Icon::Stop);
        QVERIFY(boxes.log()[3].buttons == Platform::Buttons::Ok);
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
