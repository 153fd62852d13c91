#include "ui/graph/UGraph.h"

#include "analysis/Analysis.h"
#include "ui/platform/MenuItems.h"
#include "ui/platform/Platform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QSpinBox>
#include <QTime>
#include <QTimeEdit>

#include <cmath>
#include <cstdlib>
#include <cstring>

TRect32 MarkerLine;
TRect32 MarkerZone[2];
uint8_t AwaitingGrab = 0;
uint8_t LeftButtonDown = 0;
int32_t DraggedMarker = 0;
uint8_t LeftDoubleClicked = 0;
uint8_t RightFirstPress = 0;
uint8_t RightSecondPress = 0;
bool SpectrumWindowsMayClose = false;

void ResetGraphState()
{
    MarkerLine = {};
    MarkerZone[0] = MarkerZone[1] = {};
    AwaitingGrab = LeftButtonDown = LeftDoubleClicked = RightFirstPress = RightSecondPress = 0;
    DraggedMarker = 0;
    SpectrumWindowsMayClose = false;
}

QRgb ButtonFaceColor() { return QApplication::palette().color(QPalette::Button).rgb() | 0xFF000000u; }
QRgb ButtonTextColor() { return QApplication::palette().color(QPalette::ButtonText).rgb() | 0xFF000000u; }

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

namespace {
// The window font: the closest sans-serif to the original at 11 pixels.
QFont WindowFont(int pixels, bool bold = false)
{
    QFont f;
    const QStringList families = QFontDatabase::families();
    for (const char *name : {"Liberation Sans", "Arimo", "DejaVu Sans"})
        if (families.contains(QString::fromLatin1(name))) {
            f.setFamily(QString::fromLatin1(name));
            break;
        }
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setStyleStrategy(QFont::NoAntialias);
    return f;
}

} // namespace

// ---------------------------------------------------------------------------
// Plot control and pressable labels

TSpektrImage::TSpektrImage(TFGraph *owner) : QWidget(owner), owner_(owner)
{
    setObjectName(QStringLiteral("SpektrImage"));
    // Rows one cache line longer than the 2048 bytes of their pixels: at a
    // power-of-two stride every pixel of a column falls into the same few
    // cache sets, and the column-wise drawing of the refresh evicts itself.
    constexpr qsizetype stride = 512 * 4 + 64;
    auto *pixels = static_cast<uchar *>(std::malloc(stride * 300));
    if (pixels)
        Bitmap = QImage(pixels, 512, 300, stride, QImage::Format_RGB32, [](void *p) { std::free(p); }, pixels);
    else
        Bitmap = QImage(512, 300, QImage::Format_RGB32);
    Bitmap.fill(kPlotWhite);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TSpektrImage::paintEvent(QPaintEvent *e)
{
    // Each rectangle on its own: a region of several as the clip would have
    // the image blended span by span, split over threads.
    QPainter p(this);
    const QRegion &region = e->region();
    if (region.rectCount() == 1) {
        const QRect r = region.boundingRect() & Bitmap.rect();
        p.drawImage(r.topLeft(), Bitmap, r);
        return;
    }
    for (const QRect &r : region) {
        const QRect s = r & Bitmap.rect();
        p.setClipRect(s);
        p.drawImage(s.topLeft(), Bitmap, s);
    }
}

void TSpektrImage::mousePressEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    Platform::Guarded([&] { owner_->SpektrImageMouseDown(e->button(), e->modifiers(), pos.x(), pos.y()); });
}

void TSpektrImage::mouseMoveEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    Platform::Guarded([&] { owner_->SpektrImageMouseMove(e->buttons(), e->modifiers(), pos.x(), pos.y()); });
}

void TSpektrImage::mouseReleaseEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    Platform::Guarded([&] { owner_->SpektrImageMouseUp(e->button(), e->modifiers(), pos.x(), pos.y()); });
}

void TSpektrImage::mouseDoubleClickEvent(QMouseEvent *e)
{
    // The toolkit reports the second press of a double click as this event:
    // the double click first, then the press it stands for.
    const QPoint pos = e->position().toPoint();
    Platform::Guarded([&] {
        if (e->button() == Qt::LeftButton)
            owner_->SpektrImageDblClick();
        owner_->SpektrImageMouseDown(e->button(), e->modifiers(), pos.x(), pos.y());
    });
}

void TPressLabel::mousePressEvent(QMouseEvent *e)
{
    emit pressed(e->button());
    e->accept();
}

TPanel::TPanel(QWidget *parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setAutoFillBackground(true);
}

void TPanel::mousePressEvent(QMouseEvent *e)
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
    SurfaceFont = font();
    setCursor(Qt::DragMoveCursor);
    setMouseTracking(true);
    setAutoFillBackground(false);
    resize(sizeHint());
    Surface = QImage(640, 460, QImage::Format_RGB32);
    Surface.fill(ButtonFaceColor());
    BuildControls();
    BuildPanels();
    BuildMenus();
    Platform::Guarded([this] { FormCreate(); });
}

TFGraph::~TFGraph() = default;

QSize TFGraph::sizeHint() const { return {640, 452}; }

void TFGraph::BuildControls()
{
    auto label = [](QWidget *parent, int x, int y, const QString &text) {
        auto *l = new QLabel(text, parent);
        l->move(x, y);
        l->adjustSize();
        return l;
    };
    auto field = [](QLabel *l, int w, int h, bool white) {
        l->setFixedSize(w, h);
        l->setAutoFillBackground(true);
        SetFieldColours(l, white);
    };
    auto panel = [this](int x, int y, int w, int h, const QString &hint) {
        auto *p = new TPanel(this);
        p->setGeometry(x, y, w, h);
        p->setToolTip(hint);
        return p;
    };

    PIn1 = panel(8, 0, 129, 20, QStringLiteral("Время набора со старта по 1-му входу."));
    PIn2 = panel(8, 20, 129, 20, QStringLiteral("Время набора со старта по 2-му входу."));
    PIn3 = panel(8, 40, 129, 20, QStringLiteral("Время набора со старта по 3-му входу."));
    PIn2->hide();
    PIn3->hide();
    TPanel *pins[3] = {PIn1, PIn2, PIn3};
    QLabel **lins[3] = {&LIn1, &LIn2, &LIn3};
    QLabel **ltimes[3] = {&LTime1, &LTime2, &LTime3};
    for (int i = 0; i < 3; ++i) {
        *lins[i] = label(pins[i], 8, 4, QStringLiteral("Вход %1 :").arg(i + 1));
        *ltimes[i] = new TTextLabel(pins[i]);
        (*ltimes[i])->move(59, 4);
        field(*ltimes[i], 64, 13, false);
        (*ltimes[i])->setObjectName(QStringLiteral("LTime%1").arg(i + 1));
    }

    PMark1 = panel(392, 0, 233, 20, QStringLiteral("Изменение позиции маркера"));
    PMark2 = panel(392, 20, 233, 20, QStringLiteral("Изменение позиции маркера"));
    PMark1->setCursor(Qt::DragMoveCursor);
    PMark2->setCursor(Qt::DragMoveCursor);
    auto plabel = [](QWidget *parent, int x, int y, const QString &text) {
        auto *l = new TPressLabel(text, parent);
        l->move(x, y);
        l->adjustSize();
        return l;
    };
    LMark1 = plabel(PMark1, 8, 4, QStringLiteral("Маркер 1 : x="));
    LMarkX1 = plabel(PMark1, 80, 4, QString());
    LMark11 = plabel(PMark1, 128, 4, QStringLiteral("y="));
    LMarkY1 = plabel(PMark1, 144, 4, QString());
    LMark2 = plabel(PMark2, 8, 4, QStringLiteral("Маркер 2 : x="));
    LMarkX2 = plabel(PMark2, 80, 4, QString());
    LMark12 = plabel(PMark2, 128, 4, QStringLiteral("y="));
    LMarkY2 = plabel(PMark2, 144, 4, QString());
    field(LMarkX1, 43, 13, true);
    field(LMarkY1, 80, 13, true);
    field(LMarkX2, 43, 13, true);
    field(LMarkY2, 80, 13, true);
    LMarkX1->setObjectName(QStringLiteral("LMarkX1"));
    LMarkY1->setObjectName(QStringLiteral("LMarkY1"));
    LMarkX2->setObjectName(QStringLiteral("LMarkX2"));
    LMarkY2->setObjectName(QStringLiteral("LMarkY2"));
    // Blanks pad the numbers: keep them as they are.
    for (QLabel *l : {static_cast<QLabel *>(LMarkX1), static_cast<QLabel *>(LMarkY1),
                      static_cast<QLabel *>(LMarkX2), static_cast<QLabel *>(LMarkY2)})
        l->setTextFormat(Qt::PlainText);
    for (TPressLabel *l : {LMark1, LMarkX1, LMark11, LMarkY1})
        connect(l, &TPressLabel::pressed, this,
                [this](Qt::MouseButton b) { Platform::Guarded([&] { LMark1MouseDown(b); }); });
    for (TPressLabel *l : {LMark2, LMarkX2, LMark12, LMarkY2})
        connect(l, &TPressLabel::pressed, this,
                [this](Qt::MouseButton b) { Platform::Guarded([&] { LMark2MouseDown(b); }); });
    connect(PMark2, &TPanel::pressed, this,
            [this](Qt::MouseButton b) { Platform::Guarded([&] { LMark2MouseDown(b); }); });

    PIntegral = panel(184, 56, 161, 20, QStringLiteral("Набрано импульсов между маркерами."));
    LIntegral = label(PIntegral, 8, 4, QStringLiteral("Интеграл="));
    LIntegralY = new TFitLabel(PIntegral);
    LIntegralY->move(72, 4);
    field(LIntegralY, 80, 13, true);
    LIntegralY->setObjectName(QStringLiteral("LIntegralY"));

    SpektrImage = new TSpektrImage(this);
    SpektrImage->setGeometry(0, 0, 105, 105);

    L10 = label(this, 0, 0, QStringLiteral("10"));
    L10->setFont(WindowFont(16, true));
    L10->adjustSize();
    LPokazat = label(this, 0, 0, QString());
    LPokazat->setObjectName(QStringLiteral("LPokazat"));
    LPokazat->setMinimumWidth(14);

    BGistogramm = new QPushButton(this);
    BGistogramm->setObjectName(QStringLiteral("BGistogramm"));
    BGistogramm->setGeometry(0, 0, 89, 25);
    BGistogramm->setCursor(Qt::PointingHandCursor);
    BGistogramm->setToolTip(QStringLiteral("Режим изображения спектра."));
    connect(BGistogramm, &QPushButton::clicked, this, [this] { Platform::Guarded([this] { BGistogrammClick(); }); });

    TimerRis = new QTimer(this);
    TimerRis->setInterval(1000);
    connect(TimerRis, &QTimer::timeout, this, [this] { Platform::Guarded([this] { TimerRisTimer(); }); });
    TimerRis->start();
}

void TFGraph::BuildPanels()
{
    auto button = [](QWidget *parent, int x, int y, int w, int h, const QString &text, const QString &hint) {
        auto *b = new QPushButton(text, parent);
        b->setGeometry(x, y, w, h);
        b->setToolTip(hint);
        return b;
    };
    auto label = [](QWidget *parent, int x, int y, int w, int h, const QString &text) {
        auto *l = new QLabel(text, parent);
        l->setGeometry(x, y, w, h);
        return l;
    };
    auto spin = [](QWidget *parent, int x, int y, int w, int h, int lo, int hi, int value) {
        auto *s = new QSpinBox(parent);
        s->setGeometry(x, y, w, h);
        s->setRange(lo, hi);
        s->setValue(value);
        return s;
    };

    // Stacking order from bottom to top: time, energy, shift, pulse shaping.
    PTimeSet = new TPanel(this);
    PTimeSet->setObjectName(QStringLiteral("PTimeSet"));
    PTimeSet->setGeometry(160, 0, 209, 57);
    Label1 = label(PTimeSet, 8, 8, 140, 13, QStringLiteral("Введите время экспозиции"));
    SpinEditDay = spin(PTimeSet, 16, 24, 41, 22, 0, 100, 0);
    SpinEditDay->setToolTip(QStringLiteral("Введите количество 24-х часовых суток в экспозиции."));
    DateTimePicker1 = new QTimeEdit(PTimeSet);
    DateTimePicker1->setGeometry(64, 24, 73, 21);
    DateTimePicker1->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    DateTimePicker1->setTime(QTime(0, 0));
    DateTimePicker1->setToolTip(QStringLiteral("Введите время экспозиции в часах, минутах и секундах."));
    BOKTime = button(PTimeSet, 160, 8, 33, 17, QStringLiteral("O&K"), QStringLiteral("Ввести время экспозиции."));
    BCenselTime = button(PTimeSet, 152, 32, 43, 17, QStringLiteral("Ce&nsel"),
                         QStringLiteral("Отказаться от ввода времени экспозиции."));
    BOKTime->setCursor(Qt::PointingHandCursor);
    BCenselTime->setCursor(Qt::PointingHandCursor);
    connect(BOKTime, &QPushButton::clicked, this, [this] { Platform::Guarded([this] { BOKTimeClick(); }); });
    connect(BCenselTime, &QPushButton::clicked, this, [this] { Platform::Guarded([this] { BCenselTimeClick(); }); });
    PTimeSet->hide();

    PEnergSet = new TPanel(this);
    PEnergSet->setObjectName(QStringLiteral("PEnergSet"));
    PEnergSet->setGeometry(144, 0, 289, 57);
    LEnergText = label(PEnergSet, 8, 4, 273, 15, QString());
    SpinkeV = spin(PEnergSet, 8, 24, 57, 22, 0, 9000, 2000);
    SpinkeV->setToolTip(QStringLiteral("Целая часть значения энергии."));
    LEnergMask = label(PEnergSet, 68, 20, 8, 24, QStringLiteral("."));
    LEnergMask->setFont(WindowFont(20, true));
    SpinDkeV = spin(PEnergSet, 78, 24, 41, 22, 0, 99, 20);
    SpinDkeV->setToolTip(QStringLiteral("Дробная часть значения энергии."));
    LkeV = label(PEnergSet, 124, 28, 24, 13, QStringLiteral("keV"));
    BEnergOK = button(PEnergSet, 176, 26, 45, 19, QStringLiteral("O&K"), QStringLiteral("Ввести энергию."));
    BEnergCancel =
        button(PEnergSet, 228, 26, 53, 19, QStringLiteral("Ca&ncel"), QStringLiteral("Отказ от ввода энергии."));
    connect(BEnergOK, &QPushButton::clicked, this, [this] { Platform::Guarded([this] { BEnergOKClick(); }); });
    connect(BEnergCancel, &QPushButton::clicked, this,
            [this] { Platform::Guarded([this] { BEnergCancelClick(); }); });
    PEnergSet->hide();

    PShift = new TPanel(this);
    PShift->setObjectName(QStringLiteral("PShift"));
    PShift->setGeometry(144, 0, 265, 57);
    LShift = label(PShift, 8, 8, 128, 13, QStringLiteral("Цифровой сдвиг спектра"));
    RBLeft = new QRadioButton(QStringLiteral("В&лево"), PShift);
    RBLeft->setGeometry(8, 32, 57, 17);
    RBLeft->setChecked(true);
    RBRight = new QRadioButton(QStringLiteral("В&право"), PShift);
    RBRight->setGeometry(72, 32, 57, 17);
    SEShift = spin(PShift, 144, 24, 49, 22, 0, 2048, 0);
    BShiftOK = button(PShift, 208, 8, 49, 17, QStringLiteral("&OK"), QString());
    BShiftCansel = button(PShift, 208, 32, 51, 17, QStringLiteral("&Cancel"), QString());
    connect(BShiftOK, &QPushButton::clicked, this, [this] { Platform::Guarded([this] { BShiftOKClick(); }); });
    connect(BShiftCansel, &QPushButton::clicked, this, [this] { Platform::Guarded([this] { BShiftCanselClick(); }); });
    PShift->hide();
    PShift->setEnabled(false);

    PFormPuls = new TPanel(this);
    PFormPuls->setObjectName(QStringLiteral("PFormPuls"));
    PFormPuls->setGeometry(144, 0, 289, 57);
    LFormPuls = label(PFormPuls, 8, 8, 162, 13, QStringLiteral("Формировка входого импульса"));
    RB8mks = new QRadioButton(QStringLiteral("&8 мкс"), PFormPuls);
    RB4mks = new QRadioButton(QStringLiteral("&4 мкс"), PFormPuls);
    RB2mks = new QRadioButton(QStringLiteral("&2 мкс"), PFormPuls);
    RB1mks = new QRadioButton(QStringLiteral("&1 мкс"), PFormPuls);
    RB8mks->setGeometry(8, 32, 49, 17);
    RB4mks->setGeometry(64, 32, 49, 17);
    RB2mks->setGeometry(120, 32, 49, 17);
    RB1mks->setGeometry(176, 32, 49, 17);
    RB8mks->setChecked(true);
    BFormPulsOK = button(PFormPuls, 232, 8, 49, 17, QStringLiteral("&OK"), QString());
    BFormPulsCansel = button(PFormPuls, 232, 32, 49, 17, QStringLiteral("&Cancel"), QString());
    connect(BFormPulsOK, &QPushButton::clicked, this, [this] { Platform::Guarded([this] { BFormPulsOKClick(); }); });
    connect(BFormPulsCansel, &QPushButton::clicked, this,
            [this] { Platform::Guarded([this] { BFormPulsCanselClick(); }); });
    PFormPuls->hide();
    PFormPuls->setEnabled(false);
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

QLabel *TFGraph::TimeLabel(int input) const
{
    return input == 1 ? LTime1 : input == 2 ? LTime2 : input == 3 ? LTime3 : nullptr;
}

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
    RightSecondPress = 0;
    RightFirstPress = 0;
    AnalysisState.LeftPointPending = 0;
    AnalysisState.RightPointPending = 0;
    AnalysisState.MeasurePending = 0;
    NDriving->menuAction()->setEnabled(Settings.ParallelConversion != 0);
    if (Settings.InputCount > 1)
        PIn2->show();
    if (Settings.InputCount > 2)
        PIn3->show();
    BGistogramm->setText(Settings.HistogramMode != 0 ? QStringLiteral("Точки") : QStringLiteral("Гистограмма"));
    AwaitingGrab = 1;
    LeftButtonDown = 0;
    for (int i = 1; i <= Settings.InputCount && i <= 3; ++i)
        SetTimeLabelColour(i, Settings.Running[i - 1] == 1);
    SpektrImage->setGeometry(82, 98, 512, 300);
    L10->move(34, 90);
    LPokazat->move(58, 82);
    BGistogramm->move(20, 418);
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
    p.drawImage(0, 0, Surface);
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
    Platform::Guarded([&] { FormMouseMove(pos.x(), pos.y()); });
}

void TFGraph::mousePressEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    Platform::Guarded([&] { FormMouseDown(e->button(), pos.x(), pos.y()); });
}

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
    int32_t h[512];
    int64_t integral = 0;
    if (InputNumber >= 1 && InputNumber <= 3)
        DWIntegral(InputNumber, h, integral);
    else
        std::fill(std::begin(h), std::end(h), 0);
    ShowText(LIntegralY, QString::number(integral));
    DrawSpectrum(h, false);
    if (Settings.ViewFirst != ShownViewFirst || Settings.ViewWidth != ShownViewWidth) {
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
        BGistogramm->setText(Settings.HistogramMode == 0 ? QStringLiteral("&Гистограмма") : QStringLiteral("&Точки"));
    }
}

void TFGraph::NewTablo(int32_t index)
{
    if (index == 1)
        ShowText(LMarkX1, QStringLiteral("%1").arg(Settings.Marker[0], 4));
    else if (index == 2)
        ShowText(LMarkX2, QStringLiteral("%1").arg(Settings.Marker[1], 4));
    auto countAt = [this](int32_t channel) -> int32_t {
        // A marker outside the channel range (or a window without an input
        // yet) shows 0 rather than reading outside the spectrum.
        if (InputNumber < 1 || InputNumber > 3)
            return 0;
        if (DataFromMemory != 0 && (channel < 0 || channel >= Settings.ChannelCount))
            return 0;
        if (DataFromMemory == 0 && (channel < 0 || channel >= static_cast<int32_t>(PrintSnapshot.size())))
            return 0;
        return ReadChannel(channel, InputNumber);
    };
    ShowText(LMarkY1, QStringLiteral("%1").arg(countAt(Settings.Marker[0]), 10));
    ShowText(LMarkY2, QStringLiteral("%1").arg(countAt(Settings.Marker[1]), 10));
}

// ---------------------------------------------------------------------------
// Text on the client surface, on the button-face brush.

QRect TFGraph::SurfaceTextRect(const QString &text) const
{
    const QFontMetrics fm(SurfaceFont);
    return QRect(0, 0, fm.horizontalAdvance(text), fm.height());
}

void TFGraph::DrawSurfaceText(int left, int top, const QString &text)
{
    QPainter p(&Surface);
    p.setFont(SurfaceFont);
    const QRect r = SurfaceTextRect(text).translated(left, top);
    p.fillRect(r, QColor::fromRgb(ButtonFaceColor()));
    p.setPen(QColor::fromRgb(ButtonTextColor()));
    p.drawText(r, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}
