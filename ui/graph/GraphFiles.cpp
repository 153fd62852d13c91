// Spectrum files and printing: the window side of reading, saving and
// printing a spectrum window. The file formats themselves live in files/.
#include "ui/graph/UGraph.h"

#include "ui/platform/Platform.h"
#include "files/SpektrFiles.h"
#include "interchange/Interchange.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString OpenDialogTitle = QStringLiteral("Открытие файла спектра");
const QString SaveDialogTitle = QStringLiteral("Сохранение спектра");

// The filters keep their descriptions; the chosen one never decides the format.
const QStringList OpenDialogFilters = {
    QStringLiteral("текстовые(*.txt) (*.txt)"),
    QStringLiteral("двоичные(*.spe) (*.spe)"),
    QStringLiteral("все файлы (*)"),
    QStringLiteral("N42 (*.n42)"),
    QStringLiteral("CSV (*.csv)"),
};
const QStringList SaveDialogFilters = {
    QStringLiteral("текстовые файлы(*.txt) (*.txt)"),
    QStringLiteral("двоичные(*.spe) (*.spe)"),
    QStringLiteral("все файлы (*)"),
    QStringLiteral("N42 (*.n42)"),
    QStringLiteral("CSV (*.csv)"),
};

// General error texts of the exchange formats (N42, CSV, IAEA SPE).
const QString LongerSpectrumFormat = QStringLiteral("В файле %1 каналов, во входе %2");
const QString NoRealTimeText = QStringLiteral("Для N42 нужно время измерения: набор еще не шел");

// Printer-port hand-over around a print with the board on the LPT connector.
const QString BeforePrintCaption = QStringLiteral("К разъему LPT подключен АЦП ?");
const QString BeforePrintText = QStringLiteral("Подключите принтер вместо АЦП !");
const QString AfterPrintCaption = QStringLiteral("К разъему LPT подключен принтер ?");
const QString AfterPrintText = QStringLiteral("Подключите АЦП вместо принтера !");

// General error texts of a print job that did not go through.
const QString PrintStartFailedText = QStringLiteral("Не удалось начать печать");
const QString PrintFailedText = QStringLiteral("Ошибка при печати");

// The window is laid out for a screen of 96 pixels per inch.
constexpr double WindowPixelsPerInch = 96.0;

constexpr int32_t LptInterface = 3;
constexpr size_t SnapshotChannels = 1024;

bool ValidInput(int32_t input) { return input >= 1 && input <= 3; }

std::string FileSystemPath(const QString &path) { return QFile::encodeName(path).toStdString(); }

// Texts from the file layer are UTF-8 (system messages) or, for a count
// field that did not convert, the field's bytes as they stood in the file:
// those are shown byte for byte when they are not UTF-8.
QString DecodeMessage(const std::string &text)
{
    const QByteArray bytes = QByteArray::fromStdString(text);
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString s = utf8(bytes);
    if (utf8.hasError())
        s = QString::fromLatin1(bytes);
    return s;
}

void ShowFileResult(const SpectrumFileResult &r)
{
    if (r.box != SpectrumFileBox::None)
        Platform::MessageBox(QString::fromUtf8(r.BoxCaption()), QString::fromUtf8(r.BoxText()),
                             Platform::Icon::Question, Platform::Buttons::YesNo);
    if (!r.generalError.empty())
        Platform::ReportError(DecodeMessage(r.generalError));
}

QString RunSpectrumDialog(TFGraph *w, bool save)
{
    Platform::FileDialogRequest request;
    request.save = save;
    request.title = save ? SaveDialogTitle : OpenDialogTitle;
    QString &dir = save ? w->SaveDialogDir : w->OpenDialogDir;
    QString &name = save ? w->SaveDialogName : w->OpenDialogName;
    request.initialName = name;
    request.filters = save ? SaveDialogFilters : OpenDialogFilters;
    request.directory = dir;
    const QString path = Platform::RunFileDialog(w, request);
    if (!path.isEmpty()) {
        // The next use of this dialog starts from this folder and name.
        const QFileInfo info(path);
        dir = info.absolutePath();
        name = info.fileName();
    }
    return path;
}

// Asks whether a name that does not exist is meant: Yes goes on with it (the
// read then fails at the open and says so), No returns to the dialog.
Platform::Answer AskToCreate(const QString &path)
{
    return Platform::MessageBox(
        OpenDialogTitle,
        QDir::toNativeSeparators(path) + QStringLiteral("\nЭтот файл не существует.\nСоздать его?"),
        Platform::Icon::Question, Platform::Buttons::YesNo);
}

// Restores the live display when a print with the board on the printer
// port ends, however it ends.
struct LiveDisplayRestorer {
    bool armed = false;
    void Restore()
    {
        if (!armed)
            return;
        armed = false;
        DataFromMemory = 1;
        std::vector<int32_t>().swap(PrintSnapshot);
    }
    ~LiveDisplayRestorer() { Restore(); }
};

// Draws the window's client area, as it looks now, at the top left of the
// page, scaled from the window's resolution to the printer's. Returns the
// text of the failure, empty when the page went out.
QString PrintClientArea(QWidget *w, QPrinter &printer)
{
    const QPixmap shot = w->grab();
    const QImage image = shot.toImage();
    const double ratio = shot.devicePixelRatio() > 0 ? shot.devicePixelRatio() : 1.0;

    QPainter painter;
    if (!painter.begin(&printer))
        return PrintStartFailedText;
    const QRectF target(0.0, 0.0, image.width() / ratio * printer.logicalDpiX() / WindowPixelsPerInch,
                        image.height() / ratio * printer.logicalDpiY() / WindowPixelsPerInch);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(target, image);
    const bool ended = painter.end();
    if (!ended || printer.printerState() == QPrinter::Error)
        return PrintFailedText;
    return QString();
}

// The file is one of the exchange formats the window reads and saves
// through the converter's codecs: N42, CSV, and for reading IAEA SPE.
bool IsExchangeFile(const QString &path, bool save)
{
    const SpectrumFormat f = SpectrumFormatOfPath(path);
    if (f == SpectrumFormat::N42 || f == SpectrumFormat::Csv)
        return true;
    if (save || f != SpectrumFormat::Spe)
        return false;
    // Opened as the reads open it: a FIFO is refused, not waited on.
    struct stat st;
    const int fd = OpenRegularFileForReading(FileSystemPath(path).c_str(), st);
    if (fd < 0)
        return false; // the binary read reports it
    char head[256];
    bool failed = false;
    const size_t got = ReadUpTo(fd, head, sizeof head, failed);
    ::close(fd);
    return StartsWithSpeKeyword(QByteArrayView(head, qsizetype(got)));
}

// Start of input n's exposure as a date and time; invalid when it never ran.
QDateTime ExposureStart(int32_t n)
{
    const double days = Settings.StartTime[n - 1];
    if (!(days > 0))
        return {};
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0)).addSecs(qint64(std::llround(days * 86400.0)));
}

// The class of a spectrum in words; an unknown one as the file states it.
QString ClassInWords(const QString &cls)
{
    static const std::pair<const char *, const char *> words[] = {
        {"foreground", "образец"},
        {"background", "фон"},
        {"calibration", "калибровка"},
        {"intrinsic activity", "собственная активность"},
    };
    for (const auto &[name, word] : words)
        if (cls == QLatin1String(name))
            return QString::fromUtf8(word);
    return cls;
}

// After a file of several spectra (list) is read: which of them the input
// now holds (the first of class foreground, as the converter takes it) and
// how to reach the others.
void SayWhichSpectrum(const QString &path, const std::vector<SpectrumEntry> &list)
{
    if (list.size() < 2)
        return;
    const auto taken = std::find_if(list.begin(), list.end(),
                                    [](const SpectrumEntry &e) { return e.Class == QLatin1String("foreground"); });
    if (taken == list.end())
        return;
    QStringList ids;
    if (!taken->Measurement.isEmpty())
        ids << QStringLiteral("измерение ") + taken->Measurement;
    if (!taken->Id.isEmpty())
        ids << QStringLiteral("спектр ") + taken->Id;
    if (!taken->Detector.isEmpty())
        ids << QStringLiteral("детектор ") + taken->Detector;
    const QString name = QFileInfo(path).fileName();
    const QString text =
        QStringLiteral("Спектров в файле: %1. Открыт спектр %2, %3%4.\n"
                       "Все спектры файла перечисляет ryv_demo --list %5, другой спектр берет "
                       "ryv_demo --convert %5 ВЫХОД --spectrum N.")
            .arg(list.size())
            .arg(taken->Index)
            .arg(ClassInWords(taken->Class),
                 ids.isEmpty() ? QString() : QStringLiteral(" (") + ids.join(QStringLiteral(", ")) + QLatin1Char(')'),
                 name);
    Platform::MessageBox(OpenDialogTitle, text, Platform::Icon::NoIcon, Platform::Buttons::Ok);
}

void ReadExchangeFile(const QString &path, int32_t input)
{
    QByteArray bytes;
    QString why;
    SpectrumCounts counts;
    std::vector<SpectrumEntry> list; // N42: every spectrum of the file
    const bool opened = ReadSpectrumFileBytes(path, bytes, why);
    const SpectrumFormat format = opened ? SpectrumFormatOfFile(path, bytes) : SpectrumFormat::Binary;
    const bool read = opened && (format == SpectrumFormat::N42 ? ReadN42Spectra(bytes, 0, counts, nullptr, &list, why)
                                                               : ReadSpectrumCounts(format, bytes, counts, why));
    const int32_t channels = std::max(Settings.ChannelCount, 0);
    if (read && counts.size() > size_t(channels))
        why = LongerSpectrumFormat.arg(counts.size()).arg(channels);
    if (!read || counts.size() > size_t(channels)) {
        SpectrumFileResult r;
        r.op = SpectrumFileOp::Read;
        r.box = opened ? SpectrumFileBox::ReadError : SpectrumFileBox::OpenError;
        r.generalError = why.toStdString();
        ShowFileResult(r);
        return;
    }
    // A shorter spectrum fills the first channels; the rest are zero.
    for (int32_t c = 0; c < channels; ++c)
        WriteChannel(c, input, size_t(c) < counts.size() ? counts[size_t(c)] : 0);
    if (format == SpectrumFormat::N42)
        SayWhichSpectrum(path, list);
}

void SaveExchangeFile(const QString &path, int32_t input)
{
    const SpectrumCounts counts = ChannelsOf(input);
    // Times in seconds to the millisecond, as the window's clock counts them.
    auto seconds = [](double days) { return std::round(days * 86400.0 * 1000.0) / 1000.0; };
    SpectrumWriteInfo info;
    info.RealTime = seconds(Elapsed[input - 1]);
    double liveDays = 0;
    // Without a source that measures the dead time the live time is the real time.
    info.LiveTime = LiveTime(input, liveDays) ? seconds(liveDays) : *info.RealTime;
    info.Start = ExposureStart(input);
    info.Calibration = CalibrationFromSettings(Settings);
    info.Title = QFileInfo(path).fileName();
    info.Instrument = QStringLiteral("ryv_demo");
    info.InstrumentVersion = QStringLiteral(RYV_VERSION);
    const SpectrumFormat format = SpectrumFormatOfPath(path);
    SpectrumFileResult r;
    r.op = SpectrumFileOp::Save;
    QString why;
    if (format == SpectrumFormat::N42 && !N42MissingFact(info).isEmpty()) {
        r.box = SpectrumFileBox::WriteError;
        r.generalError = NoRealTimeText.toStdString();
    } else if (!ReplaceSpectrumFile(path, WriteSpectrumCounts(format, counts, info), why)) {
        r.box = SpectrumFileBox::OpenError;
        r.generalError = why.toStdString();
    }
    ShowFileResult(r);
}

} // namespace

void TFGraph::NOpenClick()
{
    QString path;
    for (;;) {
        path = RunSpectrumDialog(this, false);
        if (path.isEmpty())
            return;
        if (QFileInfo::exists(path))
            break;
        if (AskToCreate(path) == Platform::Answer::Yes)
            break;
        // No: back to the dialog for another name
    }
    if (!ValidInput(InputNumber))
        return;
    // The counts go into the data memory only; the next refresh shows them.
    if (IsExchangeFile(path, false))
        ReadExchangeFile(path, InputNumber);
    else
        ShowFileResult(ReadSpectrum(FileSystemPath(path), InputNumber));
}

void TFGraph::NSaveClick()
{
    const QString path = RunSpectrumDialog(this, true);
    if (path.isEmpty() || !ValidInput(InputNumber))
        return;
    if (IsExchangeFile(path, true))
        SaveExchangeFile(path, InputNumber);
    else
        ShowFileResult(SaveSpectrum(FileSystemPath(path), InputNumber));
}

void TFGraph::NPrintClick()
{
    const bool lpt = Settings.InterfaceKind == LptInterface;
    LiveDisplayRestorer live;
    if (lpt) {
        // Freeze this window's spectrum while the printer is on the port:
        // every window reads the snapshot until the board is back.
        const size_t channels = std::max(SnapshotChannels, static_cast<size_t>(std::max(Settings.ChannelCount, 0)));
        std::vector<int32_t> snapshot(channels, 0);
        const int32_t readable = std::min<int32_t>(static_cast<int32_t>(channels), Settings.ChannelCount);
        if (ValidInput(InputNumber))
            for (int32_t c = 0; c < readable; ++c)
                snapshot[static_cast<size_t>(c)] = ReadChannel(c, InputNumber);
        PrintSnapshot = std::move(snapshot);
        DataFromMemory = 0;
        live.armed = true;
        Platform::MessageBox(BeforePrintCaption, BeforePrintText, Platform::Icon::NoIcon, Platform::Buttons::Ok);
    }

    QString failure;
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setDocName(windowTitle());
        if (Platform::RunPrintDialog(this, printer))
            failure = PrintClientArea(this, printer);
    }
    if (!failure.isEmpty())
        Platform::ReportError(failure);

    if (lpt) {
        // Shown after a failed job too: the cables were swapped all the same.
        Platform::MessageBox(AfterPrintCaption, AfterPrintText, Platform::Icon::NoIcon, Platform::Buttons::Ok);
        live.Restore();
    }
}
