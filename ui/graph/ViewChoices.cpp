#include "ui/graph/ViewChoices.h"

#include "analysis/Peaks.h"
#include "core/Uryv.h"

#include <QSettings>

#include <cmath>

ViewChoices View;

void LoadViewChoices()
{
    QSettings s(QStringLiteral("RYV_demo"), QStringLiteral("RYV_demo"));
    s.beginGroup(QStringLiteral("View"));
    ViewChoices v;
    v.LogScale = s.value(QStringLiteral("LogScale"), false).toBool();
    v.AutoScale = s.value(QStringLiteral("AutoScale"), false).toBool();
    v.KeVAxis = s.value(QStringLiteral("KeVAxis"), false).toBool();
    v.PeakPanel = s.value(QStringLiteral("PeakPanel"), false).toBool();
    bool ok = false;
    const double t = s.value(QStringLiteral("Threshold"), 4.0).toDouble(&ok);
    v.Threshold = ok && std::isfinite(t) && t >= 1.0 && t <= 50.0 ? t : 4.0;
    View = v;
}

void SaveViewChoices()
{
    QSettings s(QStringLiteral("RYV_demo"), QStringLiteral("RYV_demo"));
    s.beginGroup(QStringLiteral("View"));
    s.setValue(QStringLiteral("LogScale"), View.LogScale);
    s.setValue(QStringLiteral("AutoScale"), View.AutoScale);
    s.setValue(QStringLiteral("KeVAxis"), View.KeVAxis);
    s.setValue(QStringLiteral("PeakPanel"), View.PeakPanel);
    s.setValue(QStringLiteral("Threshold"), View.Threshold);
}

bool EnergyCalibrated() { return CalibrationOf(Settings).Valid; }
