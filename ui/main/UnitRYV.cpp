#include "ui/main/UnitRYV.h"

#include "ui/platform/MenuItems.h"
#include "ui/platform/Platform.h"
#include "ui/graph/UGraph.h"
#include "ui/graph/PeakPanel.h"
#include "ui/graph/ViewChoices.h"
#include "core/Uryv.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QTimer>

#include <bit>

namespace {
const char *kMarked = "markedItem";
} // namespace

TFRYV::TFRYV(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("FRYV"));
    // Simulated counts must never be taken for a measurement.
    setWindowTitle(PulseFeed ? QStringLiteral("RYV_demo (имитация)") : QStringLiteral("RYV_demo"));
    setAttribute(Qt::WA_DeleteOnClose);
    MdiArea = new QMdiArea(this);
    MdiArea->setObjectName(QStringLiteral("MdiArea"));
    MdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    MdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(MdiArea);
    connect(MdiArea, &QMdiArea::subWindowActivated, this, &TFRYV::SubWindowActivated);

    TimerExp = new QTimer(this);
    TimerExp->setInterval(100);
    connect(TimerExp, &QTimer::timeout, this, [this] { Platform::Guarded([this] { TimerExpTimer(); }); });

    HotKey1 = QKeySequence(Qt::CTRL | Qt::Key_1);
    HotKey2 = QKeySequence(Qt::CTRL | Qt::Key_2);
    HotKey3 = QKeySequence(Qt::CTRL | Qt::Key_3);

    BuildMenus();
    LoadViewChoices();
    BuildViewMenu();
    RebuildMenuBar();
    TFGraph::Refreshed = [this](TFGraph *g) {
        if (PeakPanel && PeakPanel->isVisible() && g == menuGraph_)
            PeakPanel->Refresh(g);
    };
    qApp->installEventFilter(this);
    move(220, 150);
    resize(560, 352);
}

TFRYV::~TFRYV()
{
    // The area still announces activations while its windows are destroyed.
    disconnect(MdiArea, nullptr, this, nullptr);
    qApp->removeEventFilter(this);
    TFGraph::Refreshed = nullptr;
    FormDestroy();
}

void TFRYV::BuildMenus()
{
    auto guarded = [this](QAction *a, void (TFRYV::*handler)()) {
        connect(a, &QAction::triggered, this, [this, handler] { Platform::Guarded([&] { (this->*handler)(); }); });
    };
    auto opening = [this](QMenu *m, void (TFRYV::*handler)()) {
        connect(m, &QMenu::aboutToShow, this, [this, handler] { Platform::Guarded([&] { (this->*handler)(); }); });
    };

    MWind = new QMenu(QStringLiteral("&Окна"), this);
    MWind->setObjectName(QStringLiteral("MWind"));
    MWind->menuAction()->setProperty(kHelpContext, 5);
    MWind->setToolTip(QStringLiteral("Открыть окно, связанное со входом АЦП."));
    MNew = AddMenuItem(MWind, QStringLiteral("&Новое"), 5, QStringLiteral("Открыть окно, связанное со входом АЦП."));
    MWind->addSeparator();
    MCascade = AddMenuItem(MWind, QStringLiteral("&Каскад"), 5);
    MHor = AddMenuItem(MWind, QStringLiteral("Упорядочить по &горизонтали"), 5);
    MVert = AddMenuItem(MWind, QStringLiteral("Упорядочить по &вертикали"), 5);
    MIcons = AddMenuItem(MWind, QStringLiteral("Упорядочить &значки"), 5);
    MCloseAll = AddMenuItem(MWind, QStringLiteral("З&акрыть все"), 5, QStringLiteral("Свернуть все окна."));
    MWind->addSeparator();
    MExit = AddMenuItem(MWind, QStringLiteral("Вы&ход"), 5, QStringLiteral("Выход из программы."));
    SetDefaultItem(MWind, MNew);
    for (QAction *a : {MCascade, MHor, MVert, MIcons, MCloseAll})
        a->setEnabled(false);
    opening(MWind, &TFRYV::MWindClick);
    guarded(MNew, &TFRYV::MNewClick);
    guarded(MCascade, &TFRYV::MCascadeClick);
    guarded(MHor, &TFRYV::MHorClick);
    guarded(MVert, &TFRYV::MVertClick);
    guarded(MIcons, &TFRYV::MIconsClick);
    guarded(MCloseAll, &TFRYV::MCloseAllClick);
    guarded(MExit, &TFRYV::MExitClick);

    MStart = new QMenu(QStringLiteral("&Старт"), this);
    MStart->setObjectName(QStringLiteral("MStart"));
    MStart->menuAction()->setProperty(kHelpContext, 7);
    MStart->setToolTip(QStringLiteral("Набор спектра."));
    NStart = AddMenuItem(MStart, QStringLiteral("Стар&т"), 7, QStringLiteral("Начать набор спектра."));
    NStop = AddMenuItem(MStart, QStringLiteral("Сто&п"), 7, QStringLiteral("Остановить набор."));
    SetMenuShortcut(NStart, QKeySequence(Qt::CTRL | Qt::Key_S));
    SetMenuShortcut(NStop, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S));
    MStart->menuAction()->setEnabled(false);
    opening(MStart, &TFRYV::MStartClick);
    guarded(NStart, &TFRYV::NStartClick);
    guarded(NStop, &TFRYV::NStopClick);

    MClear = new QAction(QStringLiteral("О&чистить"), this);
    MClear->setObjectName(QStringLiteral("MClear"));
    MClear->setProperty(kHelpContext, 9);
    MClear->setToolTip(QStringLiteral("Обнулить память данных."));
    SetMenuShortcut(MClear, QKeySequence(Qt::CTRL | Qt::Key_Delete));
    MClear->setEnabled(false);
    guarded(MClear, &TFRYV::MClearClick);

    MOperation = new QMenu(QStringLiteral("&Действие"), this);
    MOperation->setObjectName(QStringLiteral("MOperation"));
    MOperation->menuAction()->setProperty(kHelpContext, 10);
    MOperation->setToolTip(
        QStringLiteral("Номер входа, на который действуют команды \"старт\",\"очистить\" и \"время\"."));
    NIn_1 = AddMenuItem(MOperation, QStringLiteral("&1-й вход"), 10);
    NIn_2 = AddMenuItem(MOperation, QStringLiteral("&2-й вход"), 10);
    NIn_3 = AddMenuItem(MOperation, QStringLiteral("&3-й вход"), 10);
    MOperation->addSeparator();
    NIn_All = AddMenuItem(MOperation, QStringLiteral("&Все входы"), 10);
    SetMenuShortcut(NIn_All, QKeySequence(Qt::CTRL | Qt::Key_A));
    auto *group = new QActionGroup(this);
    for (QAction *a : {NIn_1, NIn_2, NIn_3, NIn_All}) {
        a->setCheckable(true);
        group->addAction(a);
    }
    SetDefaultItem(MOperation, NIn_All);
    MOperation->menuAction()->setEnabled(false);
    opening(MOperation, &TFRYV::MOperationClick);
    guarded(NIn_1, &TFRYV::NIn_1Click);
    guarded(NIn_2, &TFRYV::NIn_2Click);
    guarded(NIn_3, &TFRYV::NIn_3Click);
    guarded(NIn_All, &TFRYV::NIn_AllClick);

    MDevice = new QMenu(QStringLiteral("&Устройство"), this);
    MDevice->setObjectName(QStringLiteral("MDevice"));
    MDevice->menuAction()->setProperty(kHelpContext, 11);
    MDevice->setToolTip(QStringLiteral("Тип используемой платы АЦП."));
    auto submenu = [this](const QString &caption, int help, const QStringList &items, QList<QAction *> &out) {
        QMenu *m = MDevice->addMenu(caption);
        m->menuAction()->setProperty(kHelpContext, help);
        auto *g = new QActionGroup(m);
        // Radio items; which one is checked is decided when the menu opens.
        g->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
        for (const QString &c : items) {
            QAction *a = AddMenuItem(m, c, help);
            a->setCheckable(true);
            g->addAction(a);
            out.append(a);
        }
        return m;
    };
    QList<QAction *> ifaces, types, inputs, channels;
    MInterface = submenu(QStringLiteral("&Интерфейс"), 11,
                         {QStringLiteral("I&SA"), QStringLiteral("PC&I"), QStringLiteral("PC&MCIA"),
                          QStringLiteral("&Print")},
                         ifaces);
    NTypeADC = submenu(QStringLiteral("&Тип преобразования"), 0,
                       {QStringLiteral("&Параллельное"), QStringLiteral("&Другое")}, types);
    MInNumber = submenu(QStringLiteral("Количество &входов"), 11,
                        {QStringLiteral("&1 вход"), QStringLiteral("&2 входа"), QStringLiteral("&3 входа")}, inputs);
    MChenNumber = submenu(QStringLiteral("Количество &каналов"), 11,
                          {QStringLiteral("&1K"), QStringLiteral("&4K"), QStringLiteral("1&6K")}, channels);
    MISA = ifaces[0];
    MPCI = ifaces[1];
    MPCMCIA = ifaces[2];
    MPrint = ifaces[3];
    NTypePar = types[0];
    NTyprOther = types[1];
    MIn1 = inputs[0];
    MIn2 = inputs[1];
    MIn3 = inputs[2];
    M1K = channels[0];
    M4K = channels[1];
    M16K = channels[2];
    SetDefaultItem(MDevice, MInterface->menuAction());
    // Clicking an item does not check it: the marks the last opening set
    // are put back.
    for (QAction *a : ifaces + types + inputs + channels)
        connect(a, &QAction::triggered, a, [a] {
            auto *marked = a->actionGroup()->property(kMarked).value<QAction *>();
            for (QAction *s : a->actionGroup()->actions())
                s->setChecked(s == marked);
        });
    opening(MDevice, &TFRYV::MDeviceClick);
    guarded(MISA, &TFRYV::MISAClick);
    guarded(MPCI, &TFRYV::MPCIClick);
    guarded(MPCMCIA, &TFRYV::MPCMCIAClick);
    guarded(MPrint, &TFRYV::MPrintClick);
    guarded(NTypePar, &TFRYV::NTypeParClick);
    guarded(NTyprOther, &TFRYV::NTyprOtherClick);
    guarded(MIn1, &TFRYV::MIn1Click);
    guarded(MIn2, &TFRYV::MIn2Click);
    guarded(MIn3, &TFRYV::MIn3Click);
    guarded(M1K, &TFRYV::M1KClick);
    guarded(M4K, &TFRYV::M4KClick);
    guarded(M16K, &TFRYV::M16KClick);

    MHelp = new QMenu(QStringLiteral("&Помощь"), this);
    MHelp->setObjectName(QStringLiteral("MHelp"));
    MHelp->menuAction()->setProperty(kHelpContext, 1);
    NAbProgramm = AddMenuItem(MHelp, QStringLiteral("&О программе"), 0);
    NHRYV = AddMenuItem(MHelp, QStringLiteral("&Справка"), 0);
    NHintWin = AddMenuItem(MHelp, QStringLiteral("&Выключить окна подсказки"), 0);
    SetMenuShortcut(NHintWin, QKeySequence(Qt::Key_Insert));
    SetDefaultItem(MHelp, NHRYV);
    opening(MHelp, &TFRYV::MHelpClick);
    guarded(NAbProgramm, &TFRYV::NAbProgrammClick);
    guarded(NHRYV, &TFRYV::NHRYVClick);
    guarded(NHintWin, &TFRYV::NHintWinClick);
}

void TFRYV::BuildViewMenu()
{
    MView = new QMenu(QStringLiteral("&Вид"), this);
    MView->setObjectName(QStringLiteral("MView"));
    MView->setToolTip(QStringLiteral("Вид спектра: шкалы и пики."));
    auto item = [this](QAction *&a, const QString &name, const QString &caption, const QString &hint,
                       const QKeySequence &key, void (TFRYV::*handler)(), bool checkable) {
        a = AddMenuItem(MView, caption, 0, hint);
        a->setObjectName(name);
        a->setCheckable(checkable);
        SetMenuShortcut(a, key);
        connect(a, &QAction::triggered, this, [this, handler] { Platform::Guarded([&] { (this->*handler)(); }); });
    };
    item(NLogScale, QStringLiteral("NLogScale"), QStringLiteral("&Логарифмическая шкала"),
         QStringLiteral("Шкала счёта по декадам от 1."), QKeySequence(Qt::CTRL | Qt::Key_G), &TFRYV::NLogScaleClick,
         true);
    item(NAutoScale, QStringLiteral("NAutoScale"), QStringLiteral("&Автошкала"),
         QStringLiteral("Шкала счёта по самому высокому каналу на экране."), QKeySequence(Qt::CTRL | Qt::Key_U),
         &TFRYV::NAutoScaleClick, true);
    item(NKeVAxis, QStringLiteral("NKeVAxis"), QStringLiteral("Шкала в &кэВ"),
         QStringLiteral("Шкала каналов в энергиях по калибровке."), QKeySequence(Qt::CTRL | Qt::Key_E),
         &TFRYV::NKeVAxisClick, true);
    item(NPeakPanel, QStringLiteral("NPeakPanel"), QStringLiteral("&Пики"),
         QStringLiteral("Панель пиков: площади, скорости счёта, нуклиды."), QKeySequence(Qt::CTRL | Qt::Key_K),
         &TFRYV::NPeakPanelClick, true);
    MView->addSeparator();
    item(NFindPeaks, QStringLiteral("NFindPeaks"), QStringLiteral("&Искать пики"),
         QStringLiteral("Найти пики в спектре активного окна."), QKeySequence(Qt::Key_F5), &TFRYV::NFindPeaksClick,
         false);
    connect(MView, &QMenu::aboutToShow, this, [this] { Platform::Guarded([this] { MViewClick(); }); });
    MViewClick();
    if (View.PeakPanel)
        QTimer::singleShot(0, this, [this] { ShowPeakPanel(View.PeakPanel); });
}

void TFRYV::MViewClick()
{
    NLogScale->setChecked(View.LogScale);
    NAutoScale->setChecked(View.AutoScale);
    NKeVAxis->setEnabled(EnergyCalibrated());
    NKeVAxis->setChecked(View.KeVAxis);
    NPeakPanel->setChecked(View.PeakPanel);
    NFindPeaks->setEnabled(SpectrumWindowCount() > 0);
}

void TFRYV::ViewChanged()
{
    SaveViewChoices();
    MViewClick();
    for (TFGraph *g : SpectrumWindows())
        g->ViewChoicesChanged();
}

void TFRYV::NLogScaleClick()
{
    View.LogScale = !View.LogScale;
    ViewChanged();
}

void TFRYV::NAutoScaleClick()
{
    View.AutoScale = !View.AutoScale;
    ViewChanged();
}

void TFRYV::NKeVAxisClick()
{
    View.KeVAxis = !View.KeVAxis;
    ViewChanged();
}

void TFRYV::NPeakPanelClick()
{
    View.PeakPanel = !View.PeakPanel;
    SaveViewChoices();
    MViewClick();
    ShowPeakPanel(View.PeakPanel);
}

void TFRYV::NFindPeaksClick()
{
    if (!View.PeakPanel) {
        View.PeakPanel = true;
        SaveViewChoices();
        MViewClick();
    }
    ShowPeakPanel(true);
}

void TFRYV::ShowPeakPanel(bool show)
{
    if (!show) {
        if (PeakPanel)
            PeakPanel->hide();
        return;
    }
    if (!PeakPanel) {
        PeakPanel = new TPeakPanel(this);
        addDockWidget(Qt::BottomDockWidgetArea, PeakPanel);
    }
    PeakPanel->show();
    if (menuGraph_)
        PeakPanel->Refresh(menuGraph_);
}

void TFRYV::RebuildMenuBar()
{
    QMenuBar *bar = menuBar();
    bar->clear();
    bar->addMenu(MWind);
    if (menuGraph_)
        bar->addActions(menuGraph_->MenuGroup(1));
    bar->addMenu(MStart);
    bar->addAction(MClear);
    bar->addMenu(MOperation);
    if (menuGraph_)
        bar->addActions(menuGraph_->MenuGroup(3));
    bar->addMenu(MDevice);
    bar->addMenu(MView);
    bar->addMenu(MHelp);
}

void TFRYV::SubWindowActivated(QMdiSubWindow *w)
{
    // When the application loses focus no window is active: the last active
    // spectrum window's menus stay in the bar.
    if (!w)
        return;
    auto *g = qobject_cast<TFGraph *>(w->widget());
    if (g && g != menuGraph_) {
        menuGraph_ = g;
        RebuildMenuBar();
        if (PeakPanel && PeakPanel->isVisible())
            PeakPanel->Refresh(g);
    }
}

QList<TFGraph *> TFRYV::SpectrumWindows() const
{
    QList<TFGraph *> out;
    for (QMdiSubWindow *w : MdiArea->subWindowList(QMdiArea::CreationOrder))
        if (auto *g = qobject_cast<TFGraph *>(w->widget()))
            out.append(g);
    return out;
}

int TFRYV::SpectrumWindowCount() const { return static_cast<int>(SpectrumWindows().size()); }

// ---------------------------------------------------------------------------
// Windows menu

void TFRYV::Natcsalo() { FillDataMemory(); }

void TFRYV::MWindClick()
{
    if (MemoryInitPending)
        Natcsalo();
    MNew->setEnabled(SpectrumWindowCount() < Settings.InputCount);
    switch (Settings.InputCount) {
    case 1:
        NIn_2->setEnabled(false);
        NIn_3->setEnabled(false);
        NIn_All->setEnabled(false);
        break;
    case 2:
        NIn_2->setEnabled(true);
        NIn_All->setEnabled(true);
        NIn_3->setEnabled(false);
        break;
    case 3:
        NIn_2->setEnabled(true);
        NIn_3->setEnabled(true);
        NIn_All->setEnabled(true);
        break;
    default:
        break;
    }
    SetMenuShortcut(NIn_1, HotKey1);
    SetMenuShortcut(NIn_2, HotKey2);
    SetMenuShortcut(NIn_3, HotKey3);
}

void TFRYV::MNewClick()
{
    MemoryInitPending = false;
    if (SpectrumWindowCount() < Settings.InputCount) {
        auto *g = new TFGraph;
        QMdiSubWindow *sub = MdiArea->addSubWindow(g);
        sub->setAttribute(Qt::WA_DeleteOnClose, false);
        g->setWindowTitle(QStringLiteral("Вход ") + QString::number(SpectrumWindowCount()));
        sub->resize(g->size() + (sub->size() - sub->contentsRect().size()));
        sub->show();
        g->setFocus();
    }
    const bool several = SpectrumWindowCount() >= 2;
    for (QAction *a : {MCascade, MHor, MVert, MIcons})
        a->setEnabled(several);
    MCloseAll->setEnabled(true);
    MStart->menuAction()->setEnabled(true);
    MClear->setEnabled(true);
    MOperation->menuAction()->setEnabled(true);
    for (int i = 1; i <= Settings.InputCount && i <= 3; ++i)
        if (Settings.Running[i - 1] == 1)
            EnableTimerExp();
}

void TFRYV::MCascadeClick()
{
    // Each visible window at its full size, one title bar lower and further
    // right than the one before; the active window comes last, on top.
    QList<QMdiSubWindow *> windows;
    QMdiSubWindow *active = MdiArea->activeSubWindow();
    for (QMdiSubWindow *w : MdiArea->subWindowList(QMdiArea::CreationOrder))
        if (!w->isMinimized() && w->isVisible() && w != active)
            windows.append(w);
    if (active && !active->isMinimized() && active->isVisible())
        windows.append(active);
    int offset = 0;
    for (QMdiSubWindow *w : windows) {
        w->showNormal();
        const QSize frame = w->size() - w->contentsRect().size();
        const QSize full = w->widget() ? w->widget()->sizeHint() + frame : w->size();
        w->setGeometry(QRect(QPoint(offset, offset), full));
        w->raise();
        offset += w->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, w);
    }
}

namespace {
// Tiles the visible windows one above the other (horizontal) or side by side
// (vertical), each taking an equal share of the area.
void Tile(QMdiArea *area, bool horizontal)
{
    QList<QMdiSubWindow *> windows;
    for (QMdiSubWindow *w : area->subWindowList(QMdiArea::CreationOrder))
        if (!w->isMinimized() && w->isVisible())
            windows.append(w);
    if (windows.isEmpty())
        return;
    const QRect r = area->viewport()->rect();
    const int n = static_cast<int>(windows.size());
    for (int i = 0; i < n; ++i) {
        QRect g;
        if (horizontal) {
            const int top = r.height() * i / n, bottom = r.height() * (i + 1) / n;
            g = QRect(0, top, r.width(), bottom - top);
        } else {
            const int left = r.width() * i / n, right = r.width() * (i + 1) / n;
            g = QRect(left, 0, right - left, r.height());
        }
        windows[i]->showNormal();
        windows[i]->setGeometry(g);
    }
}
} // namespace

void TFRYV::MHorClick() { Tile(MdiArea, true); }
void TFRYV::MVertClick() { Tile(MdiArea, false); }

void TFRYV::MIconsClick()
{
    // Minimised windows in a row along the bottom of the area.
    int x = 0;
    const int bottom = MdiArea->viewport()->height();
    for (QMdiSubWindow *w : MdiArea->subWindowList(QMdiArea::CreationOrder)) {
        if (!w->isMinimized())
            continue;
        const QSize s = w->size();
        w->move(x, bottom - s.height());
        x += s.width();
    }
}

void TFRYV::MCloseAllClick()
{
    QList<QMdiSubWindow *> list = MdiArea->subWindowList(QMdiArea::CreationOrder);
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        (*it)->close();
}

void TFRYV::MExitClick() { close(); }

// ---------------------------------------------------------------------------
// Start, stop, clear, action input

void TFRYV::NStartClick()
{
    StartAcquisition();
    EnableTimerExp();
}

// Enabling a running timer leaves its phase alone.
void TFRYV::EnableTimerExp()
{
    if (!TimerExp->isActive())
        TimerExp->start();
}

void TFRYV::NStopClick()
{
    if (!StopAcquisition())
        TimerExp->stop();
}

void TFRYV::TimerExpTimer()
{
    const bool keep = ExposureTick();
    // Pulses for the time this tick added, including the last tick of an
    // exposure that it just ended.
    if (PulseFeed)
        PulseFeed();
    if (!keep)
        TimerExp->stop();
}

void TFRYV::MStartClick()
{
    bool wouldStop;
    if (Settings.ActOnAllInputs == 1)
        wouldStop = AnyInputRunning();
    else
        wouldStop = Settings.ActionInput >= 1 && Settings.ActionInput <= 3 &&
                    Settings.Running[Settings.ActionInput - 1] == 1;
    SetDefaultItem(MStart, wouldStop ? NStop : NStart);
}

void TFRYV::MOperationClick()
{
    if (Settings.ActOnAllInputs == 1)
        NIn_All->setChecked(true);
    else if (Settings.ActionInput == 1)
        NIn_1->setChecked(true);
    else if (Settings.ActionInput == 2)
        NIn_2->setChecked(true);
    else if (Settings.ActionInput == 3)
        NIn_3->setChecked(true);
}

void TFRYV::NIn_1Click()
{
    Settings.ActionInput = 1;
    Settings.ActOnAllInputs = 0;
}
void TFRYV::NIn_2Click()
{
    Settings.ActionInput = 2;
    Settings.ActOnAllInputs = 0;
}
void TFRYV::NIn_3Click()
{
    Settings.ActionInput = 3;
    Settings.ActOnAllInputs = 0;
}
void TFRYV::NIn_AllClick() { Settings.ActOnAllInputs = 1; }

void TFRYV::MClearClick()
{
    if (Platform::MessageBox(QStringLiteral("  Спектр не сохранен !!!"), QStringLiteral("Обнулить память данных?"),
                             Platform::Icon::Question, Platform::Buttons::YesNo,
                             Platform::Answer::No) != Platform::Answer::Yes)
        return;
    ClearSpectra();
}

// ---------------------------------------------------------------------------
// Device menu

void TFRYV::MISAClick() { Settings.InterfaceKind = 0; }

namespace {
// The settings of an interface that allows one configuration only.
void TakeConfigurationOf(int32_t interfaceKind)
{
    for (const DeviceConfiguration &row : DeviceConfigurations)
        if (row.InterfaceKind == interfaceKind) {
            Settings.InterfaceKind = interfaceKind;
            Settings.InputCount = std::bit_width(static_cast<unsigned>(row.Inputs));
            Settings.ChannelCount = DeviceChannelCounts[std::bit_width(static_cast<unsigned>(row.Channels)) - 1];
            Settings.ParallelConversion = row.ParallelConversion;
            KeepViewInChannelRange();
            return;
        }
}
} // namespace

void TFRYV::MPCIClick() { TakeConfigurationOf(1); }
void TFRYV::MPCMCIAClick() { TakeConfigurationOf(2); }
void TFRYV::MPrintClick() { TakeConfigurationOf(3); }

void TFRYV::NTypeParClick() { Settings.ParallelConversion = 1; }
void TFRYV::NTyprOtherClick() { Settings.ParallelConversion = 0; }

void TFRYV::MIn1Click()
{
    Settings.InputCount = 1;
    if (Settings.InterfaceKind == 0 && Settings.ChannelCount != 16384)
        Settings.ChannelCount = 4096;
    KeepViewInChannelRange();
}

void TFRYV::MIn2Click()
{
    Settings.InputCount = 2;
    if (Settings.InterfaceKind == 0)
        Settings.ChannelCount = 1024;
    KeepViewInChannelRange();
}

void TFRYV::MIn3Click()
{
    Settings.InputCount = 3;
    if (Settings.InterfaceKind == 0)
        Settings.ChannelCount = 1024;
    KeepViewInChannelRange();
}

void TFRYV::M1KClick()
{
    Settings.ChannelCount = 1024;
    KeepViewInChannelRange();
}
void TFRYV::M4KClick()
{
    Settings.ChannelCount = 4096;
    KeepViewInChannelRange();
}
void TFRYV::M16KClick()
{
    Settings.ChannelCount = 16384;
    KeepViewInChannelRange();
}

void TFRYV::MDeviceClick()
{
    // Marks and enabled items come from the table of allowed configurations.
    const DeviceChoices d = DeviceChoicesFor(Settings);
    if (!d.Known)
        return; // an interface the table does not know: the menu stays as it is
    // Checking an item unchecks the other items of its submenu.
    auto check = [](QAction *a) {
        a->actionGroup()->setProperty(kMarked, QVariant::fromValue(a));
        for (QAction *s : a->actionGroup()->actions())
            s->setChecked(s == a);
    };
    QAction *const interfaces[] = {MISA, MPCI, MPCMCIA, MPrint};
    check(interfaces[Settings.InterfaceKind]);
    QAction *const types[] = {NTyprOther, NTypePar};
    if (d.TypesTouched) {
        for (int t = 0; t < 2; ++t)
            types[t]->setEnabled((d.Types >> t) & 1);
        check(types[d.MarkedType]);
    }
    QAction *const inputs[] = {MIn1, MIn2, MIn3};
    for (int i = 0; i < 3; ++i)
        inputs[i]->setEnabled((d.Inputs >> i) & 1);
    if (d.MarkedInputs > 0)
        check(inputs[d.MarkedInputs - 1]);
    QAction *const channels[] = {M1K, M4K, M16K};
    if (d.ChannelsTouched)
        for (int i = 0; i < 3; ++i) {
            channels[i]->setEnabled((d.Channels >> i) & 1);
            if (DeviceChannelCounts[i] == d.MarkedChannels)
                check(channels[i]);
        }
}

// ---------------------------------------------------------------------------
// Help and hints

void TFRYV::NHRYVClick() { Platform::ShowHelpContext(1); }
void TFRYV::NAbProgrammClick() { Platform::ShowHelpTopic(QStringLiteral("О программе")); }

void TFRYV::NHintWinClick()
{
    Settings.ShowHints ^= 1;
    Platform::SetHintsEnabled(Settings.ShowHints != 0);
}

void TFRYV::MHelpClick()
{
    NHintWin->setText(Settings.ShowHints != 0 ? QStringLiteral("Выключить окна подсказки")
                                              : QStringLiteral("Включить окна подсказки"));
}

// ---------------------------------------------------------------------------
// Exit

bool TFRYV::FormCloseQuery()
{
    return Platform::MessageBox(QStringLiteral("  Вы делаете попытку выйти из программы !"),
                                QStringLiteral("Действительно выходите ?"), Platform::Icon::Question,
                                Platform::Buttons::YesNo) == Platform::Answer::Yes;
}

void TFRYV::closeEvent(QCloseEvent *e)
{
    bool ok = false;
    Platform::Guarded([&] { ok = FormCloseQuery(); });
    if (!ok) {
        e->ignore();
        return;
    }
    TFGraph::SpectrumWindowsMayClose = true;
    e->accept();
}

void TFRYV::FormDestroy()
{
    if (destroyed_)
        return;
    destroyed_ = true;
    std::string err;
    if (!SaveSettings(SettingsFilePath.empty() ? std::string(SettingsFileName) : SettingsFilePath, err) &&
        !err.empty()) {
        // The settings of this run are lost: say where and why before the end.
        Platform::MessageBox(QStringLiteral("  Настройки не сохранены !!!"),
                             QString::fromStdString(err) + QLatin1Char('.'), Platform::Icon::Stop,
                             Platform::Buttons::Ok);
    }
}

// ---------------------------------------------------------------------------
// Keys: the active spectrum window previews every key, then menu shortcuts
// and F1 are dispatched here.

bool TFRYV::DispatchShortcut(const QKeySequence &key)
{
    // Walk the bar: each entry is a top-level menu or command item.
    struct Found {
        QAction *item = nullptr;
        QList<QMenu *> path;
    };
    std::function<bool(QMenu *, QList<QMenu *>, Found &)> search = [&](QMenu *menu, QList<QMenu *> path,
                                                                        Found &f) {
        path.append(menu);
        for (QAction *a : menu->actions()) {
            if (a->menu()) {
                if (search(a->menu(), path, f))
                    return true;
            } else if (!a->isSeparator() && !a->shortcut().isEmpty() && a->shortcut() == key) {
                f.item = a;
                f.path = path;
                return true;
            }
        }
        return false;
    };
    Found f;
    for (QAction *top : menuBar()->actions()) {
        if (top->menu()) {
            if (search(top->menu(), {}, f))
                break;
        } else if (!top->shortcut().isEmpty() && top->shortcut() == key) {
            f.item = top;
            break;
        }
    }
    if (!f.item)
        return false;
    for (QMenu *m : f.path) {
        if (!m->menuAction()->isEnabled())
            return true;
        emit m->aboutToShow();
    }
    for (QMenu *m : f.path)
        if (!m->menuAction()->isEnabled())
            return true;
    if (f.item->isEnabled())
        f.item->trigger();
    return true;
}

bool TFRYV::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    auto *w = qobject_cast<QWidget *>(watched);
    // Keys of this frame and its children, and of the menus it pops up.
    if (!w || (w->window() != this && !qobject_cast<QMenu *>(w)))
        return QMainWindow::eventFilter(watched, event);
    auto *ke = static_cast<QKeyEvent *>(event);
    // An unaccepted key travels up the parent chain and reaches this filter
    // again for each parent. The first delivery handles the key, then hands
    // it on to its receiver itself (which propagates it as usual) and stops
    // the outer delivery, so no key is seen twice.
    static bool delivering = false;
    if (delivering)
        return false;

    if (auto *menu = qobject_cast<QMenu *>(w)) {
        if (ke->key() == Qt::Key_F1) {
            QAction *a = menu->activeAction();
            const int ctx = a ? a->property(kHelpContext).toInt() : 0;
            if (ctx > 0) {
                Platform::Guarded([&] { Platform::ShowHelpContext(ctx); });
                return true;
            }
        }
        return false; // an open menu handles its own keys
    }
    TFGraph *graph = nullptr;
    for (QWidget *p = w; p; p = p->parentWidget())
        if ((graph = qobject_cast<TFGraph *>(p)))
            break;
    const int key = ke->key();
    if (graph)
        Platform::Guarded([&] { graph->FormKeyDown(key, ke->modifiers()); });
    if (key == Qt::Key_F1 && ke->modifiers() == Qt::NoModifier) {
        Platform::Guarded([&] { Platform::ShowHelpContext(graph ? 3 : 1); });
        return true;
    }
    if (key != Qt::Key_Control && key != Qt::Key_Shift && key != Qt::Key_Alt && key != Qt::Key_Meta) {
        const QKeySequence seq(QKeyCombination(ke->modifiers() & ~Qt::KeypadModifier, Qt::Key(key)));
        bool handled = false;
        Platform::Guarded([&] { handled = DispatchShortcut(seq); });
        if (handled) {
            ke->accept();
            return true;
        }
    }
    delivering = true;
    struct Reset {
        ~Reset() { delivering = false; }
    } reset;
    QCoreApplication::instance()->notify(w, ke);
    ke->accept();
    return true;
}
