// The program's identity on the desktop and its language: called once,
// right after the QApplication is created.
#pragma once

class QApplication;

namespace Platform {

// Sets the application's name, version, organisation and desktop file name,
// the default window icon of every window, and loads Qt's own translations
// for the user's locale, so that standard buttons and dialogs speak the
// user's language. Nothing is loaded where Qt has no catalogue for it.
void SetUpApplication(QApplication &app);

// The program's version, from the build.
const char *Version();

} // namespace Platform
