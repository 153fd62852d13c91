#include "ui/graph/GraphPanels.h"

#include "core/Uryv.h"
#include "ui/graph/WindowGeometry.h"
#include "ui/platform/Platform.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTime>
#include <QTimeEdit>

#include <cmath>
#include <cstdint>
#include <limits>

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

namespace {

constexpr int kSecondsPerDay = 86400;
constexpr int kMaxPresetDays = 100;

// A preset split into what the panel can show: whole days 0..100 and the
// time of day to the nearest second.
struct PresetParts {
    int days = 0;
    int seconds = 0; // 0..86399
};

PresetParts SplitPreset(double preset)
{
    PresetParts parts;
    // Nothing sensible to show for NaN or a negative preset: open at zero.
    if (std::isnan(preset) || preset <= 0)
        return parts;
    if (std::isinf(preset)) {
        parts.days = kMaxPresetDays;
        return parts;
    }
    const double whole = std::trunc(preset);
    const double fraction = preset - whole; // 0 for presets too large to carry one
    long long seconds = std::llround(fraction * kSecondsPerDay);
    if (whole >= kMaxPresetDays) {
        // Days are limited to the spin editor's range; the time of day is
        // kept as it is, but never rounded up into a day that cannot show.
        parts.days = kMaxPresetDays;
        parts.seconds = static_cast<int>(seconds >= kSecondsPerDay ? kSecondsPerDay - 1 : seconds);
        return parts;
    }
    long long days = static_cast<long long>(whole);
    if (seconds >= kSecondsPerDay) {
        // 1.9999999 is 2 days 00:00:00 to the second, not 1 day 24:00:00.
        seconds -= kSecondsPerDay;
        ++days;
    }
    parts.days = static_cast<int>(days);
    parts.seconds = static_cast<int>(seconds);
    return parts;
}

// A spin editor's value; a text that is not an acceptable number (an
// emptied field, say) counts as the editor's minimum.
int SpinValue(const QSpinBox *s)
{
    return s->hasAcceptableInput() ? s->value() : s->minimum();
}

// The same text as the elapsed-time labels: days, " - ", the time of day.
QString PresetText(double preset)
{
    const PresetParts p = SplitPreset(preset);
    return QString::number(p.days) + QStringLiteral(" - ") +
           QTime(0, 0).addSecs(p.seconds).toString(Platform::LongTimeFormat());
}

// The value an energy field stands for: a text that is not an integer counts
// as the field's minimum, a number outside the range as the nearest end.
int EnteredValue(const QSpinBox *spin)
{
    bool ok = false;
    const int v = spin->locale().toInt(spin->cleanText().trimmed(), &ok);
    if (!ok)
        return spin->minimum();
    return qBound(spin->minimum(), v, spin->maximum());
}

void HidePanel(QWidget *panel)
{
    panel->setEnabled(false);
    panel->hide();
}

void ShowPanel(QWidget *panel)
{
    panel->setEnabled(true);
    panel->show();
}

} // namespace

TGraphPanels::TGraphPanels(QWidget *window) : QObject(window)
{
    auto named = [](QWidget *w, const char *name) {
        w->setObjectName(QString::fromLatin1(name));
        PlaceWidget(w);
    };
    auto panel = [&](const char *name) {
        auto *p = new TPanel(window);
        named(p, name);
        return p;
    };
    auto button = [&](QWidget *parent, const char *name, const QString &text, const QString &hint) {
        auto *b = new QPushButton(text, parent);
        named(b, name);
        b->setToolTip(hint);
        return b;
    };
    auto label = [&](QWidget *parent, const char *name, const QString &text) {
        auto *l = new QLabel(text, parent);
        named(l, name);
        return l;
    };
    auto spin = [&](QWidget *parent, const char *name, int lo, int hi, int value) {
        auto *s = new QSpinBox(parent);
        named(s, name);
        s->setRange(lo, hi);
        s->setValue(value);
        return s;
    };
    auto radio = [&](QWidget *parent, const char *name, const QString &text) {
        auto *r = new QRadioButton(text, parent);
        named(r, name);
        return r;
    };
    auto onClick = [this](QPushButton *b, void (TGraphPanels::*handler)()) {
        connect(b, &QPushButton::clicked, this, [this, handler] { Platform::Guarded([&] { (this->*handler)(); }); });
    };

    PTimeSet = panel("PTimeSet");
    label(PTimeSet, "Label1", QStringLiteral("Введите время экспозиции"));
    SpinEditDay = spin(PTimeSet, "SpinEditDay", 0, 100, 0);
    SpinEditDay->setToolTip(QStringLiteral("Введите количество 24-х часовых суток в экспозиции."));
    DateTimePicker1 = new QTimeEdit(PTimeSet);
    named(DateTimePicker1, "DateTimePicker1");
    DateTimePicker1->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    DateTimePicker1->setTime(QTime(0, 0));
    DateTimePicker1->setToolTip(QStringLiteral("Введите время экспозиции в часах, минутах и секундах."));
    QPushButton *ok = button(PTimeSet, "BOKTime", QStringLiteral("O&K"), QStringLiteral("Ввести время экспозиции."));
    QPushButton *cancel = button(PTimeSet, "BCenselTime", QStringLiteral("Ce&nsel"),
                                 QStringLiteral("Отказаться от ввода времени экспозиции."));
    ok->setCursor(Qt::PointingHandCursor);
    cancel->setCursor(Qt::PointingHandCursor);
    onClick(ok, &TGraphPanels::BOKTimeClick);
    onClick(cancel, &TGraphPanels::BCenselTimeClick);
    PTimeSet->hide();

    PEnergSet = panel("PEnergSet");
    LEnergText = label(PEnergSet, "LEnergText", QString());
    SpinkeV = spin(PEnergSet, "SpinkeV", 0, 9000, 2000);
    SpinkeV->setToolTip(QStringLiteral("Целая часть значения энергии."));
    label(PEnergSet, "LEnergMask", QStringLiteral("."))->setFont(WindowFont(20, true));
    SpinDkeV = spin(PEnergSet, "SpinDkeV", 0, 99, 20);
    SpinDkeV->setToolTip(QStringLiteral("Дробная часть значения энергии."));
    label(PEnergSet, "LkeV", QStringLiteral("keV"));
    ok = button(PEnergSet, "BEnergOK", QStringLiteral("O&K"), QStringLiteral("Ввести энергию."));
    cancel = button(PEnergSet, "BEnergCancel", QStringLiteral("Ca&ncel"), QStringLiteral("Отказ от ввода энергии."));
    connect(ok, &QPushButton::clicked, this, &TGraphPanels::energyOK);
    connect(cancel, &QPushButton::clicked, this, &TGraphPanels::energyCancel);
    PEnergSet->hide();

    PShift = panel("PShift");
    label(PShift, "LShift", QStringLiteral("Цифровой сдвиг спектра"));
    RBLeft = radio(PShift, "RBLeft", QStringLiteral("В&лево"));
    RBLeft->setChecked(true);
    RBRight = radio(PShift, "RBRight", QStringLiteral("В&право"));
    SEShift = spin(PShift, "SEShift", 0, 2048, 0);
    onClick(button(PShift, "BShiftOK", QStringLiteral("&OK"), QString()), &TGraphPanels::BShiftOKClick);
    onClick(button(PShift, "BShiftCansel", QStringLiteral("&Cancel"), QString()), &TGraphPanels::BShiftCanselClick);
    PShift->hide();
    PShift->setEnabled(false);

    PFormPuls = panel("PFormPuls");
    label(PFormPuls, "LFormPuls", QStringLiteral("Формировка входого импульса"));
    RB8mks = radio(PFormPuls, "RB8mks", QStringLiteral("&8 мкс"));
    RB4mks = radio(PFormPuls, "RB4mks", QStringLiteral("&4 мкс"));
    RB2mks = radio(PFormPuls, "RB2mks", QStringLiteral("&2 мкс"));
    RB1mks = radio(PFormPuls, "RB1mks", QStringLiteral("&1 мкс"));
    RB8mks->setChecked(true);
    onClick(button(PFormPuls, "BFormPulsOK", QStringLiteral("&OK"), QString()), &TGraphPanels::BFormPulsOKClick);
    onClick(button(PFormPuls, "BFormPulsCansel", QStringLiteral("&Cancel"), QString()),
            &TGraphPanels::BFormPulsCanselClick);
    PFormPuls->hide();
    PFormPuls->setEnabled(false);
}

// ---------------------------------------------------------------------------
// Exposure time

void TGraphPanels::MTimeClick(int32_t input)
{
    // The panel opens with the window's own input; OK writes to the action
    // input (or all inputs), as the menu hint says.
    const double preset = input >= 1 && input <= 3 ? Settings.ExposurePreset[input - 1] : 0.0;
    const PresetParts parts = SplitPreset(preset);
    DateTimePicker1->setTime(QTime(0, 0).addSecs(parts.seconds));
    SpinEditDay->setValue(parts.days);
    PTimeSet->show();
}

void TGraphPanels::BOKTimeClick()
{
    const QTime t = DateTimePicker1->time();
    const int ms = t.isValid() ? t.msecsSinceStartOfDay() : 0;
    const double value = static_cast<double>(SpinValue(SpinEditDay)) +
                         static_cast<double>(ms) / (static_cast<double>(kSecondsPerDay) * 1000.0);
    bool stored = false;
    if (Settings.ActOnAllInputs != 0) {
        // Inputs above InputCount keep their presets.
        for (int32_t k = 1; k <= Settings.InputCount && k <= 3; ++k) {
            Settings.ExposurePreset[k - 1] = value;
            stored = true;
        }
    } else if (Settings.ActionInput >= 1 && Settings.ActionInput <= 3) {
        Settings.ExposurePreset[Settings.ActionInput - 1] = value;
        stored = true;
    }
    PTimeSet->hide();
    if (stored)
        emit presetStored(PresetText(value));
}

void TGraphPanels::BCenselTimeClick() { PTimeSet->hide(); }

// ---------------------------------------------------------------------------
// Energy entry

void TGraphPanels::OpenEnergyEntry(const QString &prompt, int keV, int dkeV)
{
    LEnergText->setText(prompt);
    SpinkeV->setValue(keV);
    SpinDkeV->setValue(dkeV);
    PEnergSet->show();
}

void TGraphPanels::CloseEnergyEntry() { PEnergSet->hide(); }
int TGraphPanels::EnteredKeV() const { return EnteredValue(SpinkeV); }
int TGraphPanels::EnteredDkeV() const { return EnteredValue(SpinDkeV); }

// ---------------------------------------------------------------------------
// Front-end control: digital shift and pulse shaping
void TGraphPanels::NDrivingClick()
{
    // The shift is entered as a step from the current total: open with the
    // total's direction and an amount of 0.
    if (Settings.DigitalShift < 0)
        RBLeft->setChecked(true);
    else
        RBRight->setChecked(true);
    SEShift->setValue(0);
    switch (Settings.PulseShaping) {
    case 0: RB1mks->setChecked(true); break;
    case 1: RB2mks->setChecked(true); break;
    case 2: RB4mks->setChecked(true); break;
    case 3: RB8mks->setChecked(true); break;
    default: break; // an unknown code leaves the buttons as they are
    }
}

void TGraphPanels::NShiftClick() { ShowPanel(PShift); }

void TGraphPanels::BShiftOKClick()
{
    const int64_t step = SpinValue(SEShift);
    int64_t total = Settings.DigitalShift;
    if (RBLeft->isChecked())
        total -= step;
    else if (RBRight->isChecked())
        total += step;
    // The total is unbounded by design but stored in 32 bits: saturate
    // rather than wrap round to the opposite direction.
    constexpr int64_t lo = std::numeric_limits<int32_t>::min();
    constexpr int64_t hi = std::numeric_limits<int32_t>::max();
    Settings.DigitalShift = static_cast<int32_t>(total < lo ? lo : total > hi ? hi : total);
    HidePanel(PShift);
}

void TGraphPanels::BShiftCanselClick() { HidePanel(PShift); }

void TGraphPanels::NFormirClick() { ShowPanel(PFormPuls); }

void TGraphPanels::BFormPulsOKClick()
{
    if (RB1mks->isChecked())
        Settings.PulseShaping = 0;
    else if (RB2mks->isChecked())
        Settings.PulseShaping = 1;
    else if (RB4mks->isChecked())
        Settings.PulseShaping = 2;
    else if (RB8mks->isChecked())
        Settings.PulseShaping = 3;
    HidePanel(PFormPuls);
}

void TGraphPanels::BFormPulsCanselClick() { HidePanel(PFormPuls); }
