// Program entry: the start-up sequence, then the event loop.
#include "AppSetup.h"
#include "Platform.h"
#include "UnitRYV.h"
#include "Uryv.h"

#include <QApplication>
#include <QDir>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Platform::SetUpApplication(app);
    // The settings file is resolved once, against the directory the program
    // is started in.
    SettingsFilePath = QDir::current().absoluteFilePath(QString::fromLatin1(SettingsFileName)).toStdString();
    std::string err;
    if (LoadSettings(SettingsFilePath, err) == LoadResult::IoError) {
        Platform::ReportError(QString::fromStdString(err));
        return 1;
    }
    MemoryInitPending = true;
    Platform::SetHintsEnabled(Settings.ShowHints != 0);
    auto *frame = new TFRYV;
    frame->show();
    return app.exec();
}
