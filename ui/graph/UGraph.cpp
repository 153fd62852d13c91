#include "ui/graph/UGraph.h"

#include "analysis/Analysis.h"
#include "ui/graph/ViewChoices.h"
#include "ui/graph/WindowGeometry.h"
#include "ui/platform/MenuItems.h"
#include "ui/platform/Platform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

bool TFGraph::SpectrumWindowsMayClose = false;
std::function<void(TFGraph *)> TFGraph::Refreshed;

void SetFieldColours(QWidget *w, bool white)
{
    // Background and text are always set together, so that a desktop theme
    // never gives light text on the white field or dark text on a dark face.
    // Setting a palette costs even when nothing changes (the refresh asks
    // every second), so an unchanged one is left alone.
    const QColor window = white ? QColor(Qt::white) : QColor::fromRgb(ButtonFaceColor());
    const QColor text = white ? QColor(Qt::black) : QApplication::palette().color(QPalette::ButtonText);
    QPalette pal = w->palette();
    if (pal.color(QPalette::Window) == window && pal.color(QPalette::WindowText) == text)
        return;
    pal.setColor(QPalette::Window, window);
    pal.setColor(QPalette::WindowText, text);
    w->setPalette(pal);
}

void TFitLabel::paintEvent(QPaintEvent *e)
{
    const QRect area = contentsRect();
    QFont f = font();
    int advance = TextAdvance(text());
    if (advance < 0)
        advance = QFontMetrics(f).horizontalAdvance(text());
    if (advance <= area.width()) {
        TTextLabel::paintEvent(e);
        return;
    }
    // Step the pixel size down until every character fits.
    int px = f.pixelSize() > 0 ? f.pixelSize() : QFontInfo(f).pixelSize();
    do
        f.setPixelSize(--px);
    while (px > 5 && QFontMetrics(f).horizontalAdvance(text()) > area.width());
    QPainter p(this);
    p.setFont(f);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
}

void TPressLabel::mousePressEvent(QMouseEvent *e)
{
    emit pressed(e->button());
    e->accept();
}

// ---------------------------------------------------------------------------
// Creation

TFGraph::TFGraph(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FGraph"));
    setWindowTitle(QStringLiteral("Graph"));
    setProperty(kHelpContext, 3);
    setFont(WindowFont(11));
    setCursor(Qt::DragMoveCursor);
    setMouseTracking(true);
    setAutoFillBackground(false);
    resize(sizeHint());
    BuildStatusFields();
    plot_ = new TPlotView(this);
    markers_ = new TMarkerController(this);
    panels_ = new TGraphPanels(this);
    BuildMenus();

    TSpektrImage *image = plot_->Image();
    connect(image, &TSpektrImage::pressed, this, [this](Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
        Platform::Guarded([&] { markers_->PlotPress(b); });
    });
    connect(image, &TSpektrImage::moved, this, [this](Qt::MouseButtons b, Qt::KeyboardModifiers, int x, int) {
        Platform::Guarded([&] { markers_->PlotMove(b, x); });
    });
    connect(image, &TSpektrImage::released, this, [this](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int) {
        Platform::Guarded([&] { markers_->PlotRelease(b, x); });
    });
    connect(image, &TSpektrImage::doubleClicked, this,
            [this] { Platform::Guarded([&] { markers_->PlotDoubleClick(); }); });
    connect(plot_, &TPlotView::modeButtonClicked, this, [this] { Platform::Guarded([this] { BGistogrammClick(); }); });
    connect(panels_, &TGraphPanels::presetStored, this, [this](const QString &text) {
        // Confirms the value just stored in the integral field; the next
        // refresh puts the integral back.
        LIntegralY->setText(text);
    });
    connect(panels_, &TGraphPanels::energyOK, this, [this] { Platform::Guarded([this] { BEnergOKClick(); }); });
    connect(panels_, &TGraphPanels::energyCancel, this,
            [this] { Platform::Guarded([this] { BEnergCancelClick(); }); });

    Platform::Guarded([this] { FormCreate(); });
}

TFGraph::~TFGraph() = default;

QSize TFGraph::sizeHint() const { return {640, 452}; }

void TFGraph::BuildStatusFields()
{
    auto named = [](auto *w, const QString &name) {
        w->setObjectName(name);
        PlaceWidget(w);
        return w;
    };
    auto panel = [&](const QString &name, const QString &hint) {
        auto *p = named(new TPanel(this), name);
        p->setToolTip(hint);
        return p;
    };
    // A field: its own background and text colours.
    auto field = [](QLabel *l, bool white) {
        l->setAutoFillBackground(true);
        SetFieldColours(l, white);
        return l;
    };

    for (int i = 0; i < 3; ++i) {
        PIn[i] = panel(QStringLiteral("PIn%1").arg(i + 1),
                       QStringLiteral("Время набора со старта по %1-му входу.").arg(i + 1));
        if (i > 0)
            PIn[i]->hide();
        named(new QLabel(QStringLiteral("Вход %1 :").arg(i + 1), PIn[i]), QStringLiteral("LIn%1").arg(i + 1));
        LTime[i] = field(named(new TTextLabel(PIn[i]), QStringLiteral("LTime%1").arg(i + 1)), false);
    }

    for (int k = 1; k <= 2; ++k) {
        TPanel *p = panel(QStringLiteral("PMark%1").arg(k), QStringLiteral("Изменение позиции маркера"));
        p->setCursor(Qt::DragMoveCursor);
        auto plabel = [&](const QString &name, const QString &text) {
            auto *l = new TPressLabel(text, p);
            named(l, name);
            connect(l, &TPressLabel::pressed, this,
                    [this, k](Qt::MouseButton b) { Platform::Guarded([&] { markers_->PanelPress(k, b); }); });
            return l;
        };
        plabel(QStringLiteral("LMark%1").arg(k), QStringLiteral("Маркер %1 : x=").arg(k));
        LMarkX[k - 1] = field(plabel(QStringLiteral("LMarkX%1").arg(k), QString()), true);
        plabel(QStringLiteral("LMark1%1").arg(k), QStringLiteral("y="));
        LMarkY[k - 1] = field(plabel(QStringLiteral("LMarkY%1").arg(k), QString()), true);
        // Blanks pad the numbers: keep them as they are.
        LMarkX[k - 1]->setTextFormat(Qt::PlainText);
        LMarkY[k - 1]->setTextFormat(Qt::PlainText);
        // A press on the second panel itself moves marker 2 as well.
        if (k == 2)
            connect(p, &TPanel::pressed, this,
                    [this](Qt::MouseButton b) { Platform::Guarded([&] { markers_->PanelPress(2, b); }); });
    }

    TPanel *integral = panel(QStringLiteral("PIntegral"), QStringLiteral("Набрано импульсов между маркерами."));
    named(new QLabel(QStringLiteral("Интеграл="), integral), QStringLiteral("LIntegral"));
    LIntegralY = field(named(new TFitLabel(integral), QStringLiteral("LIntegralY")), true);

    TimerRis = new QTimer(this);
    TimerRis->setObjectName(QStringLiteral("TimerRis"));
    TimerRis->setInterval(1000);
    connect(TimerRis, &QTimer::timeout, this, [this] { Platform::Guarded([this] { TimerRisTimer(); }); });
    TimerRis->start();
}

void TFGraph::BuildMenus()
{
    auto on = [this](QAction *a, void (TFGraph::*handler)()) {
        connect(a, &QAction::triggered, this, [this, handler] { Platform::Guarded([&] { (this->*handler)(); }); });
    };

    NFile = new QMenu(QStringLiteral("&Файл"), this);
    NFile->setObjectName(QStringLiteral("NFile"));
    NFile->menuAction()->setProperty(kHelpContext, 6);
    NFile->setToolTip(QStringLiteral("Работа с файлами спектров."));
    NOpen = AddMenuItem(NFile, QStringLiteral("&Читать спектр"), 6, QStringLiteral("Читать спектр из файла в активное окно."));
    NSave = AddMenuItem(NFile, QStringLiteral("&Сохранить спектр"), 6,
                     QStringLiteral("Сохранить спектр из активного окна в файл."));
    NPrint = AddMenuItem(NFile, QStringLiteral("&Печатать спектр"), 6, QStringLiteral("Вывести на принтер активное окно."));
    SetMenuShortcut(NOpen, QKeySequence(Qt::CTRL | Qt::Key_O));
    SetMenuShortcut(NSave, QKeySequence(Qt::Key_F2));
    SetMenuShortcut(NPrint, QKeySequence(Qt::CTRL | Qt::Key_P));
    on(NOpen, &TFGraph::NOpenClick);
    on(NSave, &TFGraph::NSaveClick);
    on(NPrint, &TFGraph::NPrintClick);

    MTime = new QAction(QStringLiteral("&Время"), this);
    MTime->setObjectName(QStringLiteral("MTime"));
    MTime->setProperty(kHelpContext, 8);
    MTime->setToolTip(QStringLiteral("Установить время набора для входа, заданного опцией \"Действие\"."));
    SetMenuShortcut(MTime, QKeySequence(Qt::CTRL | Qt::Key_T));
    on(MTime, &TFGraph::MTimeClick);

    NDriving = new QMenu(QStringLiteral("У&правление"), this);
    NDriving->setObjectName(QStringLiteral("NDriving"));
    NDriving->setToolTip(QStringLiteral("Управление набором спектра"));
    NShift = AddMenuItem(NDriving, QStringLiteral("&Сдвиг"), 0, QStringLiteral("Цифровой сдвиг"));
    NFormir = AddMenuItem(NDriving, QStringLiteral("&Формировка"), 0, QStringLiteral("Длительность переднего фронта импульса"));
    connect(NDriving, &QMenu::aboutToShow, this, [this] { Platform::Guarded([this] { NDrivingClick(); }); });
    on(NShift, &TFGraph::NShiftClick);
    on(NFormir, &TFGraph::NFormirClick);

    NMeasuring = new QMenu(QStringLiteral("&Измерение"), this);
    NMeasuring->setObjectName(QStringLiteral("NMeasuring"));
    NMeasuring->menuAction()->setProperty(kHelpContext, 12);
    NMeasuring->setToolTip(QStringLiteral("Калибровка, измерение пика."));
    NLeftPoint = AddMenuItem(NMeasuring, QStringLiteral("&Левая точка"), 12,
                          QStringLiteral("Задание левого калибровочного пика, зафиксированного ранее."));
    NRightPoint =
        AddMenuItem(NMeasuring, QStringLiteral("&Правая точка"), 12, QStringLiteral("Задание правого калибровочного пика."));
    NMeasuring->addSeparator();
    NMeasPeak = AddMenuItem(NMeasuring, QStringLiteral("&Измерение пика"), 12,
                         QStringLiteral("Измерение энергии, разрешения помеченного маркерами пика."));
    NDifNonLin = AddMenuItem(NMeasuring, QStringLiteral("&Дифференциальная нелинейность"), 12,
                          QStringLiteral("Дифференциальная нелинейность спектра между маркерами."));
    SetMenuShortcut(NLeftPoint, QKeySequence(Qt::CTRL | Qt::Key_L));
    SetMenuShortcut(NRightPoint, QKeySequence(Qt::CTRL | Qt::Key_R));
    SetMenuShortcut(NMeasPeak, QKeySequence(Qt::CTRL | Qt::Key_M));
    SetDefaultItem(NMeasuring, NMeasPeak);
    on(NLeftPoint, &TFGraph::NLeftPointClick);
    on(NRightPoint, &TFGraph::NRightPointClick);
    on(NMeasPeak, &TFGraph::NMeasPeakClick);
    on(NDifNonLin, &TFGraph::NDifNonLinClick);
}

QList<QAction *> TFGraph::MenuGroup(int group) const
{
    if (group == 1)
        return {NFile->menuAction(), MTime};
    if (group == 3)
        return {NDriving->menuAction(), NMeasuring->menuAction()};
    return {};
}

QLabel *TFGraph::TimeLabel(int input) const { return input >= 1 && input <= 3 ? LTime[input - 1] : nullptr; }

void TFGraph::SetTimeLabelColour(int input, bool running)
{
    QLabel *l = TimeLabel(input);
    if (!l)
        return;
    SetFieldColours(l, running);
}

void TFGraph::FormCreate()
{
    DataFromMemory = 1;
    AnalysisState.LeftPointPending = 0;
    AnalysisState.RightPointPending = 0;
    AnalysisState.MeasurePending = 0;
    NDriving->menuAction()->setEnabled(Settings.ParallelConversion != 0);
    if (Settings.InputCount > 1)
        PIn[1]->show();
    if (Settings.InputCount > 2)
        PIn[2]->show();
    plot_->ShowModeCaption(false);
    markers_->Start();
    for (int i = 1; i <= Settings.InputCount && i <= 3; ++i)
        SetTimeLabelColour(i, Settings.Running[i - 1] == 1);
}

// ---------------------------------------------------------------------------
// Paint handler and refresh

void TFGraph::PaintHandler()
{
    const QString caption = windowTitle();
    if (caption.size() < 6 || !caption.at(5).isDigit())
        return; // not a caption the frame gave: nothing to show yet
    InputNumber = caption.at(5).digitValue();
    VertikalMas();
    HorisontMas();
    RisMark2(1);
    RisMark2(2);
    RisSpectr();
}

void TFGraph::showEvent(QShowEvent *e)
{
    QWidget::showEvent(e);
    Platform::Guarded([this] { PaintHandler(); });
}

void TFGraph::changeEvent(QEvent *e)
{
    QWidget::changeEvent(e);
    if (e->type() == QEvent::WindowTitleChange && isVisible())
        Platform::Guarded([this] { PaintHandler(); });
}

void TFGraph::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor::fromRgb(ButtonFaceColor()));
    p.drawImage(0, 0, plot_->Surface());
}

void TFGraph::closeEvent(QCloseEvent *e)
{
    if (SpectrumWindowsMayClose) {
        e->accept();
        return;
    }
    // Closing a spectrum window only minimises it.
    e->ignore();
    if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget()))
        sub->showMinimized();
    else
        showMinimized();
}

void TFGraph::mouseMoveEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    Platform::Guarded([&] { markers_->SurfaceMove(pos.x(), pos.y()); });
}

void TFGraph::mousePressEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    Platform::Guarded([&] { markers_->SurfacePress(e->button(), pos.x(), pos.y()); });
}

void TFGraph::FormKeyDown(int key, Qt::KeyboardModifiers shift) { markers_->Key(key, shift); }

namespace {
// Days, " - ", then the time of day in the locale's long format.
QString ElapsedText(double elapsed, const QString &format)
{
    if (!std::isfinite(elapsed))
        elapsed = 0;
    const double days = std::trunc(elapsed);
    double frac = std::fabs(elapsed - days);
    long long ms = std::llround(frac * 86400000.0);
    if (ms >= 86400000)
        ms = 86399999;
    const QString d = std::fabs(days) < 9.0e15 ? QString::number(static_cast<long long>(days))
                                               : QString::number(days, 'f', 0);
    return d + QStringLiteral(" - ") + QTime(0, 0).addMSecs(static_cast<int>(ms)).toString(format);
}

// The text of input n's elapsed time. Every window shows the same times: a
// text is made again only when the time or the format changed.
const QString &ElapsedLabelText(int n, double elapsed, const QString &format)
{
    static struct {
        double elapsed = 0;
        QString format, text;
    } made[3];
    auto &m = made[n - 1];
    if (std::memcmp(&elapsed, &m.elapsed, sizeof elapsed) != 0 || m.format != format || m.text.isEmpty()) {
        m.text = ElapsedText(elapsed, format);
        m.elapsed = elapsed;
        m.format = format;
    }
    return m.text;
}
} // namespace

namespace {
// Sets a label's text unless it already shows it.
void ShowText(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}
} // namespace

void TFGraph::TimerRisTimer()
{
    for (int i = 1; i <= Settings.InputCount && i <= 3; ++i)
        SetTimeLabelColour(i, Settings.Running[i - 1] == 1);
    const QString format = Platform::LongTimeFormat();
    for (int i = 1; i <= Settings.InputCount && i <= 3; ++i)
        ShowText(TimeLabel(i), ElapsedLabelText(i, Elapsed[i - 1], format));
    int32_t h[PlotColumns];
    int64_t integral = 0;
    ScaledHeights(h, integral);
    ShowText(LIntegralY, QString::number(integral));
    DrawSpectrum(h, false);
    bool calibrationChanged = false;
    if (KeVShown() || !std::isnan(drawnCal_[0])) {
        const double now[4] = {Settings.LeftPeakCentroid, Settings.LeftPeakEnergy, Settings.RightPeakCentroid,
                               Settings.RightPeakEnergy};
        calibrationChanged = KeVShown() ? std::memcmp(now, drawnCal_, sizeof now) != 0 : true;
    }
    if (Settings.ViewFirst != ShownViewFirst || Settings.ViewWidth != ShownViewWidth || calibrationChanged) {
        ShownViewFirst = Settings.ViewFirst;
        ShownViewWidth = Settings.ViewWidth;
        HorisontMas();
    }
    if (Settings.VertScale != ShownVertScale) {
        ShownVertScale = Settings.VertScale;
        VertikalMas();
    }
    if (Settings.HistogramMode != ShownHistogramMode) {
        ShownHistogramMode = Settings.HistogramMode;
        plot_->ShowModeCaption(true);
    }
    if (Refreshed)
        Refreshed(this);
}

void TFGraph::ScaledHeights(int32_t *h, int64_t &integral)
{
    integral = 0;
    const ScaleChoice choice{View.LogScale, View.AutoScale};
    int32_t top = Settings.VertScale;
    if (InputNumber >= 1 && InputNumber <= 3)
        top = DWIntegralScaled(InputNumber, choice, h, integral);
    else
        std::fill(h, h + PlotColumns, 0);
    if ((choice.Log || choice.Auto) && (top != drawnTop_ || choice.Log != drawnLog_)) {
        drawnTop_ = top;
        VertikalMas();
    }
}

bool TFGraph::KeVShown() const { return View.KeVAxis && EnergyCalibrated(); }

void TFGraph::ViewChoicesChanged()
{
    if (!isVisible())
        return;
    VertikalMas();
    HorisontMas();
    RisSpectr();
}

void TFGraph::NewTablo(int32_t index)
{
    if (index == 1 || index == 2)
        ShowText(LMarkX[index - 1], QStringLiteral("%1").arg(Settings.Marker[index - 1], 4));
    auto countAt = [this](int32_t channel) -> int32_t {
        // A marker outside the channel range (or a window without an input
        // yet) shows 0 rather than reading outside the spectrum.
        if (InputNumber < 1 || InputNumber > 3 || channel < 0 || channel >= ReadableChannels(InputNumber))
            return 0;
        return ReadChannel(channel, InputNumber);
    };
    ShowText(LMarkY[0], QStringLiteral("%1").arg(countAt(Settings.Marker[0]), 10));
    ShowText(LMarkY[1], QStringLiteral("%1").arg(countAt(Settings.Marker[1]), 10));
}

// ---------------------------------------------------------------------------
// Plot and scales

void TFGraph::RisSpectr()
{
    int32_t h[PlotColumns];
    if (View.LogScale || View.AutoScale) {
        int64_t integral = 0;
        ScaledHeights(h, integral);
    } else if (InputNumber >= 1 && InputNumber <= 3) {
        DW(InputNumber, h);
    } else {
        std::fill(std::begin(h), std::end(h), 0);
    }
    DrawSpectrum(h, true);
}

void TFGraph::DrawSpectrum(const int32_t *h, bool whole)
{
    bool marked[PlotColumns];
    markers_->MarkedColumns(marked);
    plot_->Draw(h, marked, whole);
}

void TFGraph::RisMark(int32_t channel, TRect32 &line)
{
    MarkerLineOf(channel, line);
    plot_->ToggleMarkerLine(line);
}

void TFGraph::RisMark2(int32_t k) { markers_->ToggleMarker(k); }

void TFGraph::BGistogrammClick()
{
    Settings.HistogramMode = Settings.HistogramMode != 0 ? 0 : 1;
    plot_->ShowModeCaption(true);
    ShownHistogramMode = Settings.HistogramMode;
    RisSpectr();
}

void TFGraph::VertikalMas()
{
    ShownVertScale = Settings.VertScale;
    if (!View.LogScale && !View.AutoScale) {
        drawnTop_ = Settings.VertScale;
        drawnLog_ = false;
        plot_->DrawCountScale();
        return;
    }
    // The automatic full scale is the one the last heights were drawn to.
    if (!View.AutoScale)
        drawnTop_ = Settings.VertScale;
    else if (drawnTop_ <= 0)
        drawnTop_ = Settings.VertScale;
    drawnLog_ = View.LogScale;
    plot_->DrawCountScale(drawnTop_, View.LogScale);
}

void TFGraph::HorisontMas()
{
    ShownViewFirst = Settings.ViewFirst;
    ShownViewWidth = Settings.ViewWidth;
    if (!KeVShown()) {
        drawnCal_[0] = NAN;
        plot_->DrawChannelScale();
        return;
    }
    const Calibration cal = CalibrationOf(Settings);
    drawnCal_[0] = Settings.LeftPeakCentroid;
    drawnCal_[1] = Settings.LeftPeakEnergy;
    drawnCal_[2] = Settings.RightPeakCentroid;
    drawnCal_[3] = Settings.RightPeakEnergy;
    plot_->DrawChannelScale(&cal);
}

// ---------------------------------------------------------------------------
// Exposure time and front-end control menus: their panels do the work.

void TFGraph::MTimeClick() { panels_->MTimeClick(InputNumber); }
void TFGraph::NDrivingClick() { panels_->NDrivingClick(); }
void TFGraph::NShiftClick() { panels_->NShiftClick(); }
void TFGraph::NFormirClick() { panels_->NFormirClick(); }
