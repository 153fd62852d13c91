// The thin layer between the windows and the desktop: message boxes, the
// general error report, file and print dialogs, help, hints and locale
// formats. Tests replace the interactive parts through the hooks.
#pragma once

#include <QList>
#include <QString>

#include <exception>
#include <functional>

class QWidget;
class QPrinter;

namespace Platform {

enum class Icon { NoIcon, Question, Stop };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

struct BoxRequest {
    QString caption;
    QString text;
    Icon icon = Icon::NoIcon;
    Buttons buttons = Buttons::Ok;
    Answer defaultAnswer = Answer::Yes; // the button Enter presses in a Yes/No box
};

// A modal message box. Yes/No boxes have the given default button (Enter),
// Yes unless told otherwise, and No as the escape button.
Answer MessageBox(const QString &caption, const QString &text, Icon icon, Buttons buttons,
                  Answer defaultAnswer = Answer::Yes);

// Tests: every box is appended to the log; with an answerer installed the
// box is not shown and the answerer's reply is returned.
using BoxAnswerer = std::function<Answer(const BoxRequest &)>;
void SetBoxAnswerer(BoxAnswerer answerer);
QList<BoxRequest> &BoxLog();

// The application title: the executable's file name without its directory,
// cut at its first full stop.
QString ApplicationTitle();

// The general error report: the text with a full stop appended when it has
// none, the application title as caption, a stop icon, one OK button.
void ReportError(const QString &text);

// Runs a command body and reports whatever it throws, so that no exception
// ever reaches the event dispatch.
template <typename F> void Guarded(F &&body)
{
    try {
        body();
    } catch (const std::exception &e) {
        ReportError(QString::fromUtf8(e.what()));
    } catch (...) {
        ReportError(QStringLiteral("Неизвестная ошибка"));
    }
}

// File dialogs. Returns the chosen path, or an empty string when cancelled.
struct FileDialogRequest {
    bool save = false;
    QString title;
    QString initialName;
    QStringList filters;
    QString directory;
};
using FileDialogHook = std::function<QString(const FileDialogRequest &)>;
void SetFileDialogHook(FileDialogHook hook);
QString RunFileDialog(QWidget *parent, const FileDialogRequest &request);

// Print dialog: returns whether the operator confirmed it.
using PrintDialogHook = std::function<bool(QPrinter &)>;
void SetPrintDialogHook(PrintDialogHook hook);
bool RunPrintDialog(QWidget *parent, QPrinter &printer);

// Help: the help file "Ryv.hlp" opened at a context number or a topic.
QString HelpFilePath();
void ShowHelpContext(int context);
void ShowHelpTopic(const QString &topic);
QWidget *HelpWindow(); // the viewer if it was opened, for tests

// The folder of the sample spectra: beside the executable in the build
// folder, or share/ryv_demo/samples of an installed program; empty if none.
QString SamplesDirectory();

// Pop-up hints switched application-wide.
void SetHintsEnabled(bool on);
bool HintsEnabled();

// The locale's long time format without its time-zone part.
QString LongTimeFormat();
QChar DecimalSeparator();

} // namespace Platform
