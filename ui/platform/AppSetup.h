// The program's identity on the desktop and its language: called once,
// right after the QApplication is created.
#pragma once

class QApplication;

namespace Platform {

// Sets the application's name, version, organisation and desktop file name,
// the default window icon of every window, and, for a Russian-speaking user,
// loads Qt's own translations, so that standard buttons and dialogs speak
// Russian like the rest of the program.
void SetUpApplication(QApplication &app);

// The program's version, from the build.
const char *Version();

} // namespace Platform
