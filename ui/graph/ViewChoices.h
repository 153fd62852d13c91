// The spectroscopist's view choices shared by every spectrum window: a
// logarithmic count scale, the automatic full scale, the keV channel axis
// and the peak panel. Kept per user in Qt's settings, apart from the
// instrument's settings file; all off, the windows draw as they always did.
#pragma once

#include <QString>

struct ViewChoices {
    bool LogScale = false;
    bool AutoScale = false;
    bool KeVAxis = false;
    bool PeakPanel = false;
    double Threshold = 4.0; // peak search significance, in sigma
};

extern ViewChoices View;

// Reads and writes the choices in the user's settings (organisation and
// application "RYV_demo", group "View"). A value that is not there or not
// sound reads as its default.
void LoadViewChoices();
void SaveViewChoices();

// True when the calibration points both differ from a new record's
// defaults: only then are energies shown.
bool EnergyCalibrated();
