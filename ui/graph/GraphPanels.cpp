// The exposure time panel and the front-end control panels.
//
// All three panels are plain children of the spectrum window: menu items
// show them, their own OK and Cancel buttons hide them again. Nothing is
// modal, and the panels keep no state of their own: the settings record is
// read when a panel is opened and written on OK.
#include "ui/graph/UGraph.h"

#include "ui/platform/Platform.h"

#include <QRadioButton>
#include <QSpinBox>
#include <QTime>
#include <QTimeEdit>

#include <cmath>
#include <cstdint>
#include <limits>

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

// ---------------------------------------------------------------------------
// Exposure time

void TFGraph::MTimeClick()
{
    // The panel opens with this window's own input; OK writes to the action
    // input (or all inputs), as the menu hint says.
    const double preset =
        InputNumber >= 1 && InputNumber <= 3 ? Settings.ExposurePreset[InputNumber - 1] : 0.0;
    const PresetParts parts = SplitPreset(preset);
    DateTimePicker1->setTime(QTime(0, 0).addSecs(parts.seconds));
    SpinEditDay->setValue(parts.days);
    PTimeSet->show();
}

void TFGraph::BOKTimeClick()
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
    // Confirm the value just stored in the integral field; the next refresh
    // puts the integral back.
    if (stored)
        LIntegralY->setText(PresetText(value));
}

void TFGraph::BCenselTimeClick() { PTimeSet->hide(); }

// ---------------------------------------------------------------------------
// Front-end control: digital shift and pulse shaping

void TFGraph::NDrivingClick()
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

void TFGraph::NShiftClick() { ShowPanel(PShift); }

void TFGraph::BShiftOKClick()
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

void TFGraph::BShiftCanselClick() { HidePanel(PShift); }

void TFGraph::NFormirClick() { ShowPanel(PFormPuls); }

void TFGraph::BFormPulsOKClick()
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

void TFGraph::BFormPulsCanselClick() { HidePanel(PFormPuls); }
