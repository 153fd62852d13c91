#include "ui/platform/Platform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace Platform {

namespace {
BoxAnswerer boxAnswerer;
FileDialogHook fileDialogHook;
PrintDialogHook printDialogHook;
bool hintsEnabled = true;

class HintFilter : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ToolTip && !hintsEnabled)
            return true;
        return QObject::eventFilter(watched, event);
    }
};
} // namespace

QList<BoxRequest> &BoxLog()
{
    static QList<BoxRequest> log;
    return log;
}

void SetBoxAnswerer(BoxAnswerer answerer) { boxAnswerer = std::move(answerer); }

Answer MessageBox(const QString &caption, const QString &text, Icon icon, Buttons buttons,
                  Answer defaultAnswer)
{
    const BoxRequest request{caption, text, icon, buttons, defaultAnswer};
    BoxLog().append(request);
    if (boxAnswerer)
        return boxAnswerer(request);

    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(caption);
    box.setText(text);
    box.setIcon(icon == Icon::Question ? QMessageBox::Question
                : icon == Icon::Stop   ? QMessageBox::Critical
                                       : QMessageBox::NoIcon);
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(defaultAnswer == Answer::No ? QMessageBox::No : QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    const int r = box.exec();
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return r == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

QString ApplicationTitle()
{
    QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (name.isEmpty())
        name = QCoreApplication::applicationName();
    const int dot = name.indexOf(QLatin1Char('.'));
    return dot >= 0 ? name.left(dot) : name;
}

void ReportError(const QString &text)
{
    QString t = text;
    if (!t.endsWith(QLatin1Char('.')))
        t += QLatin1Char('.');
    MessageBox(ApplicationTitle(), t, Icon::Stop, Buttons::Ok);
}

void SetFileDialogHook(FileDialogHook hook) { fileDialogHook = std::move(hook); }

QString RunFileDialog(QWidget *parent, const FileDialogRequest &request)
{
    if (fileDialogHook)
        return fileDialogHook(request);
    QFileDialog dialog(parent, request.title, request.directory);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ReadOnly, false);
    // Show the descriptions as they are written, without Qt's pattern suffix.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setNameFilters(request.filters);
    dialog.setDefaultSuffix(QString());
    dialog.setSizeGripEnabled(true);
    if (request.save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        // A name that does not exist may be typed: the caller asks whether
        // to create it.
        dialog.setFileMode(QFileDialog::AnyFile);
    }
    dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

void SetPrintDialogHook(PrintDialogHook hook) { printDialogHook = std::move(hook); }

bool RunPrintDialog(QWidget *parent, QPrinter &printer)
{
    if (printDialogHook)
        return printDialogHook(printer);
    QPrintDialog dialog(&printer, parent);
    dialog.setMinMax(1, 1);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    // Printing to a PDF file is always offered, so that a window can be
    // printed on a machine without a configured printer.
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    return dialog.exec() == QDialog::Accepted;
}

// ---------------------------------------------------------------------------
// Help viewer: the help file is HTML with one anchor per context number and
// one for each topic identifier.

QString HelpFilePath()
{
    const QString name = QStringLiteral("Ryv.hlp");
    const QString appDir = QCoreApplication::applicationDirPath();
    const QStringList candidates = {
        appDir + QLatin1Char('/') + name,
        appDir + QStringLiteral("/../share/ryv_demo/") + name,
        QDir::currentPath() + QLatin1Char('/') + name,
    };
    for (const QString &p : candidates)
        if (QFileInfo(p).isFile())
            return QFileInfo(p).absoluteFilePath();
    return QString();
}

QString SamplesDirectory()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    for (const QString &p : {appDir + QStringLiteral("/samples"), appDir + QStringLiteral("/../share/ryv_demo/samples")})
        if (QFileInfo(p).isDir())
            return QDir(p).absolutePath();
    return QString();
}

namespace {
QPointer<QWidget> helpWindow;
QPointer<QTextBrowser> helpBrowser;

bool OpenHelpAt(const QString &anchor)
{
    const QString path = HelpFilePath();
    if (path.isEmpty()) {
        MessageBox(ApplicationTitle(), QStringLiteral("Файл справки Ryv.hlp не найден."), Icon::NoIcon,
                   Buttons::Ok);
        return false;
    }
    if (!helpWindow) {
        helpWindow = new QWidget(nullptr, Qt::Window);
        helpWindow->setAttribute(Qt::WA_DeleteOnClose);
        // The program ends with its frame, whether or not help is open.
        helpWindow->setAttribute(Qt::WA_QuitOnClose, false);
        helpWindow->setObjectName(QStringLiteral("HelpViewer"));
        helpWindow->setWindowTitle(QStringLiteral("Справка RYV_demo"));
        helpWindow->resize(520, 420);
        auto *layout = new QVBoxLayout(helpWindow);
        layout->setContentsMargins(0, 0, 0, 0);
        helpBrowser = new QTextBrowser(helpWindow);
        helpBrowser->setOpenLinks(true);
        layout->addWidget(helpBrowser);
    }
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        helpBrowser->setHtml(QString::fromUtf8(f.readAll()));
    helpWindow->show();
    helpWindow->raise();
    if (!anchor.isEmpty())
        helpBrowser->scrollToAnchor(anchor);
    return true;
}
} // namespace

void ShowHelpContext(int context) { OpenHelpAt(QString::number(context)); }
void ShowHelpTopic(const QString &topic) { OpenHelpAt(topic); }
QWidget *HelpWindow() { return helpWindow; }

// ---------------------------------------------------------------------------

void SetHintsEnabled(bool on)
{
    static HintFilter *filter = nullptr;
    if (!filter && qApp) {
        filter = new HintFilter;
        qApp->installEventFilter(filter);
    }
    hintsEnabled = on;
}

bool HintsEnabled() { return hintsEnabled; }

QString LongTimeFormat()
{
    // Asked for every second by each elapsed-time label: the format is
    // worked out again only when the locale's format changes.
    static QString raw, format;
    static bool known = false;
    const QString f = QLocale().timeFormat(QLocale::LongFormat);
    if (!known || f != raw) {
        // Drop the time-zone part ("t", "tt", ...) and the blanks around it.
        static const QRegularExpression zone(QStringLiteral("\\s*t+\\s*"));
        raw = f;
        format = QString(f).remove(zone).trimmed();
        known = true;
    }
    return format;
}

QChar DecimalSeparator()
{
    const QString d = QLocale().decimalPoint();
    return d.isEmpty() ? QLatin1Char('.') : d.at(0);
}

} // namespace Platform
