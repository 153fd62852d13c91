// The spectrum window's file and print commands: the dialogs they run, the
// files they leave, the boxes they show and the printer-port hand-over.
#include "files/SpektrFiles.h"
#include "tests/ui/UiTestUtil.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <sys/stat.h>

using namespace ui_test;

namespace {

using Platform::Answer;
using Platform::BoxRequest;
using Platform::Buttons;
using Platform::Icon;

const QString OpenTitle = QStringLiteral("Открытие файла спектра");
const QString SaveTitle = QStringLiteral("Сохранение спектра");
const QString NotSaved = QStringLiteral("  Спектр не сохранен !!!");
const QString NotRead = QStringLiteral("  Спектр не прочитан !!!");
const QString OpenError = QStringLiteral("Ошибка открытия файла");
const QString WriteError = QStringLiteral("Ошибка записи файла");
const QString ReadError = QStringLiteral("Ошибка чтения файла");

std::vector<int32_t> Counts(int input)
{
    std::vector<int32_t> v(static_cast<size_t>(Settings.ChannelCount));
    for (int32_t c = 0; c < Settings.ChannelCount; ++c)
        v[static_cast<size_t>(c)] = ReadChannel(c, input);
    return v;
}

void SetCounts(int input, const std::vector<int32_t> &v)
{
    for (size_t c = 0; c < v.size(); ++c)
        WriteChannel(static_cast<int32_t>(c), input, v[c]);
}

// A spectrum with the extremes of the 32-bit range in the first channels.
std::vector<int32_t> TestSpectrum(uint32_t seed)
{
    std::vector<int32_t> v(static_cast<size_t>(Settings.ChannelCount));
    uint32_t x = seed;
    for (size_t c = 0; c < v.size(); ++c) {
        x = x * 1664525u + 1013904223u;
        v[c] = static_cast<int32_t>(x);
    }
    v[0] = INT32_MIN;
    v[1] = INT32_MAX;
    v[2] = 0;
    v[3] = static_cast<int32_t>(4294967295u);
    v[5] = 1234;
    return v;
}

QByteArray FileBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void WriteBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray LittleEndian(const std::vector<int32_t> &v)
{
    QByteArray out;
    for (int32_t x : v) {
        const auto u = static_cast<uint32_t>(x);
        for (int k = 0; k < 4; ++k)
            out.append(static_cast<char>((u >> (8 * k)) & 0xFF));
    }
    return out;
}

void CheckBox(const BoxRequest &b, const QString &caption, const QString &text, Icon icon, Buttons buttons)
{
    QCOMPARE(b.caption, caption);
    QCOMPARE(b.text, text);
    QCOMPARE(b.icon, icon);
    QCOMPARE(b.buttons, buttons);
}

// The general error report: the program's title, a stop icon, one button.
void CheckErrorReport(const BoxRequest &b, const QString &text)
{
    CheckBox(b, QStringLiteral("test_files_ui"), text, Icon::Stop, Buttons::Ok);
    QCOMPARE(Platform::ApplicationTitle(), QStringLiteral("test_files_ui"));
}

// Near-blue pixels of an image and their bounding box.
struct BlueArea {
    int count = 0;
    QRect bounds;
};
BlueArea FindBlue(const QImage &img)
{
    BlueArea a;
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = img.pixel(x, y);
            if (qBlue(p) > 200 && qRed(p) < 60 && qGreen(p) < 60) {
                ++a.count;
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    if (a.count > 0)
        a.bounds = QRect(QPoint(left, top), QPoint(right, bottom));
    return a;
}

} // namespace

class FilesUiTest : public QObject {
    Q_OBJECT
    TFRYV *frame = nullptr;
    TFGraph *g1 = nullptr;
    TFGraph *g2 = nullptr;
    QTemporaryDir *tmp = nullptr;
    QList<Platform::FileDialogRequest> requests;
    QStringList dialogAnswers;

    QString Tmp(const QString &name) const { return tmp->filePath(name); }

    // The file dialogs answer the given paths in order, then cancel.
    void ScriptDialogs(const QStringList &paths)
    {
        dialogAnswers = paths;
        Platform::SetFileDialogHook([this](const Platform::FileDialogRequest &r) {
            requests << r;
            return dialogAnswers.isEmpty() ? QString() : dialogAnswers.takeFirst();
        });
    }

    // The print dialog prints to a PDF file, or is cancelled when path is empty.
    int printDialogs = 0;
    uint8_t dataFromMemoryInDialog = 0xFF;
    QString docNameInDialog;
    void ScriptPrintDialog(const QString &pdfPath)
    {
        Platform::SetPrintDialogHook([this, pdfPath](QPrinter &p) {
            ++printDialogs;
            dataFromMemoryInDialog = DataFromMemory;
            docNameInDialog = p.docName();
            if (pdfPath.isEmpty())
                return false;
            p.setOutputFormat(QPrinter::PdfFormat);
            p.setOutputFileName(pdfPath);
            return true;
        });
    }

    void Save(TFGraph *g, const QString &path)
    {
        ScriptDialogs({path});
        g->NSave->trigger();
    }
    void Read(TFGraph *g, const QString &path)
    {
        ScriptDialogs({path});
        g->NOpen->trigger();
    }

private slots:
    void init()
    {
        ResetProgram();
        requests.clear();
        dialogAnswers.clear();
        printDialogs = 0;
        dataFromMemoryInDialog = 0xFF;
        docNameInDialog.clear();
        tmp = new QTemporaryDir;
        QVERIFY(tmp->isValid());
        frame = FrameWithWindows(2);
        QCOMPARE(frame->SpectrumWindowCount(), 2);
        g1 = frame->SpectrumWindows()[0];
        g2 = frame->SpectrumWindows()[1];
        QCOMPARE(g1->InputNumber, 1);
        QCOMPARE(g2->InputNumber, 2);
    }

    void cleanup()
    {
        Platform::SetBoxAnswerer(nullptr);
        Platform::SetFileDialogHook(nullptr);
        Platform::SetPrintDialogHook(nullptr);
        DisposeFrame(frame);
        frame = nullptr;
        delete tmp;
        tmp = nullptr;
    }

    // ---- dialogs ----------------------------------------------------------

    void dialogsCarryTitlesNamesAndFiltersAndCancelDoesNothing()
    {
        Boxes boxes;
        const auto before1 = Counts(1);
        ScriptDialogs({});
        g1->NOpen->trigger();
        g1->NSave->trigger();
        QCOMPARE(requests.size(), 2);

        QCOMPARE(requests[0].save, false);
        QCOMPARE(requests[0].title, OpenTitle);
        QCOMPARE(requests[0].initialName, QStringLiteral("Spektr"));
        QCOMPARE(requests[0].filters, (QStringList{QStringLiteral("текстовые(*.txt) (*.txt)"),
                                                   QStringLiteral("двоичные(*.spe) (*.spe)"),
                                                   QStringLiteral("все файлы (*)"), QStringLiteral("N42 (*.n42)"),
                                                   QStringLiteral("CSV (*.csv)")}));
        QCOMPARE(requests[0].directory, QString());

        QCOMPARE(requests[1].save, true);
        QCOMPARE(requests[1].title, SaveTitle);
        QCOMPARE(requests[1].initialName, QStringLiteral("Spektr"));
        QCOMPARE(requests[1].filters, (QStringList{QStringLiteral("текстовые файлы(*.txt) (*.txt)"),
                                                   QStringLiteral("двоичные(*.spe) (*.spe)"),
                                                   QStringLiteral("все файлы (*)"), QStringLiteral("N42 (*.n42)"),
                                                   QStringLiteral("CSV (*.csv)")}));

        // Cancelled: no box, no file, no count changed, nothing remembered.
        QVERIFY(boxes.log().isEmpty());
        QVERIFY(QDir(tmp->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
        QVERIFY(Counts(1) == before1);
        QCOMPARE(g1->OpenDialogName, QStringLiteral("Spektr"));
        QCOMPARE(g1->OpenDialogDir, QString());
        QCOMPARE(g1->SaveDialogName, QStringLiteral("Spektr"));
        QCOMPARE(g1->SaveDialogDir, QString());
    }

    void dialogsRememberTheChosenFolderAndNamePerWindow()
    {
        Boxes boxes;
        QVERIFY(QDir(tmp->path()).mkdir(QStringLiteral("sub")));
        Save(g1, Tmp(QStringLiteral("sub/first.spe")));
        QVERIFY(boxes.log().isEmpty());
        QCOMPARE(g1->SaveDialogDir, Tmp(QStringLiteral("sub")));
        QCOMPARE(g1->SaveDialogName, QStringLiteral("first.spe"));
        QCOMPARE(g1->OpenDialogName, QStringLiteral("Spektr")); // each dialog keeps its own

        ScriptDialogs({});
        g1->NSave->trigger(); // the save dialog starts where it was left
        g1->NOpen->trigger(); // the open dialog keeps its own
        g2->NSave->trigger(); // another window keeps its own
        QCOMPARE(requests.size(), 4);
        QCOMPARE(requests[1].directory, Tmp(QStringLiteral("sub")));
        QCOMPARE(requests[1].initialName, QStringLiteral("first.spe"));
        QCOMPARE(requests[2].directory, QString());
        QCOMPARE(requests[2].initialName, QStringLiteral("Spektr"));
        QCOMPARE(requests[3].directory, QString());
        QCOMPARE(requests[3].initialName, QStringLiteral("Spektr"));
    }

    void shortcutsReachTheFileCommands()
    {
        Boxes boxes;
        ScriptDialogs({});
        ScriptPrintDialog(QString());
        QVERIFY(frame->MenuWindow() != nullptr);
        QVERIFY(frame->DispatchShortcut(QKeySequence(Qt::Key_F2)));
        QVERIFY(frame->DispatchShortcut(QKeySequence(Qt::CTRL | Qt::Key_O)));
        QVERIFY(frame->DispatchShortcut(QKeySequence(Qt::CTRL | Qt::Key_P)));
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0].title, SaveTitle);
        QCOMPARE(requests[1].title, OpenTitle);
        QCOMPARE(printDialogs, 1);
        QVERIFY(boxes.log().isEmpty());
    }

    // ---- round trips --------------------------------------------------------

    void textFileRoundTrip()
    {
        Boxes boxes;
        const auto spectrum = TestSpectrum(7);
        SetCounts(1, spectrum);
        const auto other = Counts(2);
        const QString path = Tmp(QStringLiteral("spectrum.txt"));
        Save(g1, path);
        QVERIFY(boxes.log().isEmpty());

        const QByteArray bytes = FileBytes(path);
        QCOMPARE(bytes.size(), 22 * 1024);
        QCOMPARE(bytes.mid(0 * 22, 22), QByteArray("     0   -2147483648\r\n"));
        QCOMPARE(bytes.mid(1 * 22, 22), QByteArray("     1    2147483647\r\n"));
        QCOMPARE(bytes.mid(3 * 22, 22), QByteArray("     3            -1\r\n"));
        QCOMPARE(bytes.mid(5 * 22, 22), QByteArray("     5          1234\r\n"));
        QCOMPARE(bytes.mid(1023 * 22, 22),
                 QStringLiteral("  1023  %1\r\n").arg(spectrum[1023], 12).toLatin1());

        SetCounts(1, std::vector<int32_t>(1024, 0));
        Read(g1, path);
        QVERIFY(boxes.log().isEmpty());
        QVERIFY(Counts(1) == spectrum);
        QCOMPARE(static_cast<uint32_t>(ReadChannel(3, 1)), 4294967295u);
        QVERIFY(Counts(2) == other);

        // The same file read in the window of input 2 goes to input 2.
        Read(g2, path);
        QVERIFY(boxes.log().isEmpty());
        QVERIFY(Counts(2) == spectrum);
    }

    void binaryFileRoundTrip_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("spe") << QStringLiteral("spectrum.spe");
        QTest::newRow("upper-case TXT") << QStringLiteral("SPECTRUM.TXT");
        QTest::newRow("mixed-case Txt") << QStringLiteral("Spectrum.Txt");
        QTest::newRow("initial name, no extension") << QString();
    }
    void binaryFileRoundTrip()
    {
        QFETCH(QString, name);
        Boxes boxes;
        const auto spectrum = TestSpectrum(11);
        SetCounts(1, spectrum);
        if (name.isEmpty()) {
            // The operator accepts the initial name as it stands.
            Platform::SetFileDialogHook([this](const Platform::FileDialogRequest &r) {
                requests << r;
                return tmp->path() + QLatin1Char('/') + r.initialName;
            });
            g1->NSave->trigger();
            name = QStringLiteral("Spektr");
        } else {
            Save(g1, Tmp(name));
        }
        QVERIFY(boxes.log().isEmpty());
        QCOMPARE(QDir(tmp->path()).entryList(QDir::Files), QStringList{name});

        const QByteArray bytes = FileBytes(Tmp(name));
        QCOMPARE(bytes.size(), 4 * 1024);
        QCOMPARE(bytes.mid(12, 4), QByteArray("\xFF\xFF\xFF\xFF", 4));
        QCOMPARE(bytes.mid(20, 4), QByteArray("\xD2\x04\x00\x00", 4));
        QCOMPARE(bytes.mid(0, 4), QByteArray("\x00\x00\x00\x80", 4));
        QCOMPARE(bytes, LittleEndian(spectrum));

        Read(g2, Tmp(name));
        QVERIFY(boxes.log().isEmpty());
        QVERIFY(Counts(2) == spectrum);
        QCOMPARE(static_cast<uint32_t>(ReadChannel(3, 2)), 4294967295u);
    }

    // N42 and CSV carry the input's counts and facts out and back in; a
    // shorter spectrum fills the first channels, a longer one is refused.
    void exchangeFilesKeepTheInputsFacts()
    {
        Boxes boxes;
        const auto spectrum = TestSpectrum(5);
        SetCounts(1, spectrum);
        Elapsed[0] = 125.5 / 86400.0;
        Settings.StartTime[0] = QDate(1899, 12, 30).daysTo(QDate(2024, 3, 14)) + (9 * 3600 + 26 * 60 + 53) / 86400.0;
        Save(g1, Tmp(QStringLiteral("s.N42")));
        Save(g1, Tmp(QStringLiteral("s.csv")));
        QVERIFY(boxes.log().isEmpty());
        // Valid against the format's published schema and against the
        // structure the program's documents have (a positive real time).
        for (const char *xsd : {"n42.xsd", "n42_structure.xsd"}) {
            const QString schema = QFileInfo(QStringLiteral(__FILE__)).dir().filePath(
                QStringLiteral("../interchange/") + QLatin1String(xsd));
            QProcess lint;
            lint.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), QStringLiteral("--schema"), schema,
                                                   Tmp(QStringLiteral("s.N42"))});
            QVERIFY(lint.waitForFinished());
            QVERIFY2(lint.exitCode() == 0, lint.readAllStandardError().constData());
        }
        const QByteArray n42 = FileBytes(Tmp(QStringLiteral("s.N42")));
        QVERIFY(n42.contains("<StartDateTime>2024-03-14T09:26:53"));
        QVERIFY(n42.contains("<RealTimeDuration>PT125.5S</RealTimeDuration>"));
        QVERIFY(n42.contains("<LiveTimeDuration>PT125.5S</LiveTimeDuration>"));
        QVERIFY(n42.contains("<RadInstrumentModelName>ryv_demo</RadInstrumentModelName>"));
        QVERIFY(n42.contains("<RadInstrumentComponentVersion>" RYV_VERSION "</RadInstrumentComponentVersion>"));
        const QList<QByteArray> rows = FileBytes(Tmp(QStringLiteral("s.csv"))).split('\n');
        QCOMPARE(rows.size(), 1026);
        QCOMPARE(rows[1].left(2), QByteArray("0,"));
        QVERIFY(rows[1].endsWith(",-2147483648\r"));

        for (const char *name : {"s.N42", "s.csv"}) {
            SetCounts(2, std::vector<int32_t>(1024, 0));
            Read(g2, Tmp(QLatin1String(name)));
            QVERIFY(boxes.log().isEmpty());
            QVERIFY2(Counts(2) == spectrum, name);
        }

        // Of a background and a foreground spectrum the foreground one is
        // taken, and a box says so.
        WriteBytes(Tmp(QStringLiteral("two.n42")),
                   "<N42InstrumentData xmlns=\"http://physics.nist.gov/Standards/N42/2006/N42\">"
                   "<Measurement UUID=\"m-1\"><Spectrum ID=\"bg\" Detector=\"NaI\"><SourceType>Background"
                   "</SourceType><ChannelData>1 2</ChannelData></Spectrum><Spectrum ID=\"fg\"><ChannelData>"
                   "3 4 5</ChannelData></Spectrum></Measurement></N42InstrumentData>");
        Read(g2, Tmp(QStringLiteral("two.n42")));
        QCOMPARE(boxes.log().size(), 1);
        QCOMPARE(boxes.log()[0].caption, QStringLiteral("Открытие файла спектра"));
        QCOMPARE(boxes.log()[0].text,
                 QStringLiteral("Спектров в файле: 2. Открыт спектр 2, образец (измерение m-1, спектр fg).\n"
                                "Все спектры файла перечисляет ryv_demo --list two.n42, другой спектр берет "
                                "ryv_demo --convert two.n42 ВЫХОД --spectrum N."));
        QCOMPARE(ReadChannel(0, 2), 3);
        QCOMPARE(ReadChannel(3, 2), 0);
        Platform::BoxLog().clear();

        SetCounts(2, std::vector<int32_t>(1024, 9));
        WriteBytes(Tmp(QStringLiteral("short.spe")), "$SPEC_ID:\r\nx\r\n$DATA:\r\n0 2\r\n5 6\r\n7\r\n");
        Read(g2, Tmp(QStringLiteral("short.spe")));
        QVERIFY(boxes.log().isEmpty());
        QCOMPARE(ReadChannel(0, 2), 5);
        QCOMPARE(ReadChannel(2, 2), 7);
        QCOMPARE(ReadChannel(3, 2), 0);
        QCOMPARE(ReadChannel(1023, 2), 0);

        WriteBytes(Tmp(QStringLiteral("long.csv")), QByteArray("1\n").repeated(2048));
        Read(g2, Tmp(QStringLiteral("long.csv")));
        QCOMPARE(boxes.log().size(), 2);
        CheckBox(boxes.log()[0], NotRead, ReadError, Icon::Question, Buttons::YesNo);
        CheckErrorReport(boxes.log()[1], QStringLiteral("В файле 2048 каналов, во входе 1024."));
        QCOMPARE(ReadChannel(0, 2), 5);
    }

    void readingRedrawsNothingUntilTheNextRefresh()
    {
        Boxes boxes;
        // The windows menu filled the memory: full-height bars everywhere.
        QCOMPARE(PlotPixel(g1, 10, 150), kPlotBlue);
        const QImage before = g1->Plot().Raster().copy();
        const QString path = Tmp(QStringLiteral("zero.spe"));
        WriteBytes(path, QByteArray(4 * 1024, '\0'));
        Read(g1, path);
        QVERIFY(boxes.log().isEmpty());
        QCOMPARE(ReadChannel(10, 1), 0);
        QVERIFY(g1->Plot().Raster() == before);
        g1->TimerRisTimer();
        QCOMPARE(PlotPixel(g1, 10, 150), kPlotWhite);
    }

    // ---- reading errors -----------------------------------------------------

    void readOnlyFilesAreRead()
    {
        Boxes boxes;
        const auto spectrum = TestSpectrum(3);
        const auto live = Counts(1);
        const QString bin = Tmp(QStringLiteral("ro.spe"));
        const QString txt = Tmp(QStringLiteral("ro.txt"));
        WriteBytes(bin, LittleEndian(spectrum));
        SetCounts(2, spectrum);
        Save(g2, txt);
        QVERIFY(QFile::setPermissions(bin, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(QFile::setPermissions(txt, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

        Read(g1, bin);
        QVERIFY(boxes.log().isEmpty());
        QVERIFY(Counts(1) == spectrum);

        SetCounts(1, live);
        Read(g1, txt);
        QVERIFY(boxes.log().isEmpty());
        QVERIFY(Counts(1) == spectrum);
    }

    void fileThatCannotBeOpenedForReading()
    {
        Boxes boxes;
        const auto live = Counts(1);
        // A folder is there but is no file: both formats refuse it.
        QVERIFY(QDir(tmp->path()).mkdir(QStringLiteral("folder.txt")));
        QVERIFY(QDir(tmp->path()).mkdir(QStringLiteral("folder.spe")));
        boxes.script = {Answer::No};
        Read(g1, Tmp(QStringLiteral("folder.txt")));
        Read(g1, Tmp(QStringLiteral("folder.spe")));
        QCOMPARE(boxes.log().size(), 2);
        CheckBox(boxes.log()[0], NotRead, OpenError, Icon::Question, Buttons::YesNo);
        CheckBox(boxes.log()[1], NotRead, OpenError, Icon::Question, Buttons::YesNo);
        // Nor is a FIFO, refused without waiting for a writer.
        QCOMPARE(::mkfifo(QFile::encodeName(Tmp(QStringLiteral("fifo.spe"))).constData(), 0644), 0);
        Read(g1, Tmp(QStringLiteral("fifo.spe")));
        QCOMPARE(boxes.log().size(), 3);
        CheckBox(boxes.log()[2], NotRead, OpenError, Icon::Question, Buttons::YesNo);
        QVERIFY(Counts(1) == live);
    }

    void missingFileAsksToCreateIt()
    {
        Boxes boxes;
        const auto live = Counts(1);
        const QString missing = Tmp(QStringLiteral("new.spe"));
        const QString prompt = missing + QStringLiteral("\nЭтот файл не существует.\nСоздать его?");

        // No: back to the dialog, at the name just typed; then cancelled.
        boxes.script = {Answer::No};
        ScriptDialogs({missing});
        g1->NOpen->trigger();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[1].directory, tmp->path());
        QCOMPARE(requests[1].initialName, QStringLiteral("new.spe"));
        QCOMPARE(boxes.log().size(), 1);
        CheckBox(boxes.log()[0], OpenTitle, prompt, Icon::Question, Buttons::YesNo);
        QVERIFY(!QFile::exists(missing));

        // No, then another, existing file: that one is read.
        const auto spectrum = TestSpectrum(5);
        const QString existing = Tmp(QStringLiteral("there.spe"));
        WriteBytes(existing, LittleEndian(spectrum));
        boxes.script = {Answer::No};
        ScriptDialogs({missing, existing});
        g1->NOpen->trigger();
        QCOMPARE(boxes.log().size(), 2);
        QVERIFY(Counts(1) == spectrum);
        SetCounts(1, live);

        // Yes: the name is taken; the read fails at the open and says so.
        boxes.script = {Answer::Yes, Answer::Yes};
        Read(g1, missing);
        QCOMPARE(boxes.log().size(), 4);
        CheckBox(boxes.log()[2], OpenTitle, prompt, Icon::Question, Buttons::YesNo);
        CheckBox(boxes.log()[3], NotRead, OpenError, Icon::Question, Buttons::YesNo);
        QVERIFY(!QFile::exists(missing));
        QVERIFY(Counts(1) == live);
    }

    void missingFileThatCannotBeCreated()
    {
        Boxes boxes;
        const auto live = Counts(1);
        const QString path = Tmp(QStringLiteral("nodir/x.txt"));
        boxes.script = {Answer::Yes, Answer::Yes};
        Read(g1, path);
        QCOMPARE(boxes.log().size(), 2);
        CheckBox(boxes.log()[0], OpenTitle, path + QStringLiteral("\nЭтот файл не существует.\nСоздать его?"),
                 Icon::Question, Buttons::YesNo);
        CheckBox(boxes.log()[1], NotRead, OpenError, Icon::Question, Buttons::YesNo);
        QVERIFY(!QFile::exists(path));
        QVERIFY(Counts(1) == live);
    }

    void textFieldThatIsNoInteger()
    {
        Boxes boxes;
        SetCounts(1, std::vector<int32_t>(1024, 77));
        const QString path = Tmp(QStringLiteral("bad.txt"));
        WriteBytes(path, "     0            11\r\n"
                         "     1            22\r\n"
                         "     2           12x\r\n"
                         "     3            44\r\n");
        Read(g1, path);
        QCOMPARE(boxes.log().size(), 1);
        CheckErrorReport(boxes.log()[0], QStringLiteral("'         12x' is not a valid integer value."));
        QCOMPARE(ReadChannel(0, 1), 11);
        QCOMPARE(ReadChannel(1, 1), 22);
        QCOMPARE(ReadChannel(2, 1), 77);
        QCOMPARE(ReadChannel(3, 1), 77);

        // A field that is not UTF-8 is shown byte for byte.
        WriteBytes(path, "     0  \xFF\r\n");
        Read(g1, path);
        QCOMPARE(boxes.log().size(), 2);
        CheckErrorReport(boxes.log()[1], QStringLiteral("'") + QChar(0xFF) +
                                             QStringLiteral("' is not a valid integer value."));

        // A short text file: the empty field after its last line.
        WriteBytes(path, "     0             5\r\n");
        Read(g1, path);
        QCOMPARE(boxes.log().size(), 3);
        CheckErrorReport(boxes.log()[2], QStringLiteral("'' is not a valid integer value."));
        QCOMPARE(ReadChannel(0, 1), 5);
        QCOMPARE(ReadChannel(1, 1), 22);
    }

    void shortBinaryFile()
    {
        Boxes boxes;
        SetCounts(1, std::vector<int32_t>(1024, 9));
        const QString path = Tmp(QStringLiteral("short.spe"));
        WriteBytes(path, QByteArray("\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00", 10));
        Read(g1, path);
        QCOMPARE(boxes.log().size(), 1);
        CheckBox(boxes.log()[0], NotRead, ReadError, Icon::Question, Buttons::YesNo);
        QCOMPARE(ReadChannel(0, 1), 1);
        QCOMPARE(ReadChannel(1, 1), 2);
        // channels without a complete record keep their counts
        QCOMPARE(ReadChannel(2, 1), 9);
        QCOMPARE(ReadChannel(1023, 1), 9);
    }

    // ---- saving errors ------------------------------------------------------

    void writeFailures()
    {
        Boxes boxes;
        // The device fills up: the data does not reach the disk.
        SetSpectrumFileSyncHook([](int) {
            errno = ENOSPC;
            return -1;
        });
        // Text format: every line attempted, then one box.
        Save(g1, Tmp(QStringLiteral("full.txt")));
        QCOMPARE(boxes.log().size(), 1);
        CheckBox(boxes.log()[0], NotSaved, WriteError, Icon::Question, Buttons::YesNo);

        // Binary format: the general error report with the system's text.
        Save(g1, Tmp(QStringLiteral("full.spe")));
        SetSpectrumFileSyncHook(nullptr);
        QCOMPARE(boxes.log().size(), 2);
        CheckErrorReport(boxes.log()[1], QString::fromLocal8Bit(std::strerror(ENOSPC)) + QLatin1Char('.'));
        QVERIFY(boxes.log()[1].text.endsWith(QLatin1Char('.')));
        QVERIFY(!boxes.log()[1].text.endsWith(QStringLiteral("..")));
    }

    void fileThatCannotBeCreated()
    {
        Boxes boxes;
        Save(g1, Tmp(QStringLiteral("nodir/s.txt")));
        Save(g1, Tmp(QStringLiteral("nodir/s.spe")));
        QCOMPARE(boxes.log().size(), 2);
        CheckBox(boxes.log()[0], NotSaved, OpenError, Icon::Question, Buttons::YesNo);
        CheckBox(boxes.log()[1], NotSaved, OpenError, Icon::Question, Buttons::YesNo);
        QVERIFY(!QFileInfo::exists(Tmp(QStringLiteral("nodir"))));
    }

    // ---- printing -----------------------------------------------------------

    void printsTheWindowOnOnePage()
    {
        Boxes boxes;
        QCOMPARE(PlotPixel(g1, 10, 150), kPlotBlue);
        QCOMPARE(PlotPixel(g1, 500, 2), kPlotBlue);
        const QString pdf = Tmp(QStringLiteral("page.pdf"));
        ScriptPrintDialog(pdf);
        g1->NPrint->trigger();
        QCOMPARE(printDialogs, 1);
        QVERIFY(boxes.log().isEmpty());
        QCOMPARE(dataFromMemoryInDialog, uint8_t(1));
        QCOMPARE(docNameInDialog, QStringLiteral("Вход 1"));
        QVERIFY(FileBytes(pdf).startsWith("%PDF"));

        QProcess info;
        info.start(QStringLiteral("pdfinfo"), {pdf});
        QVERIFY(info.waitForFinished(30000));
        QVERIFY(QString::fromUtf8(info.readAllStandardOutput()).contains(QRegularExpression("Pages:\\s+1\\n")));

        const QString prefix = Tmp(QStringLiteral("page"));
        QCOMPARE(QProcess::execute(QStringLiteral("pdftoppm"),
                                   {"-png", "-r", "50", "-f", "1", "-l", "1", pdf, prefix}),
                 0);
        const QStringList pngs = QDir(tmp->path()).entryList({QStringLiteral("page*.png")}, QDir::Files);
        QCOMPARE(pngs.size(), 1);
        const QImage page(Tmp(pngs[0]));
        QVERIFY(!page.isNull());

        // The 512 x 300 plot, full of blue bars, at 50 of the window's 96
        // pixels per inch, near the top left of the page.
        const BlueArea blue = FindBlue(page);
        QVERIFY2(blue.count > 30000, qPrintable(QString::number(blue.count)));
        QVERIFY2(blue.bounds.width() >= 258 && blue.bounds.width() <= 274,
                 qPrintable(QString::number(blue.bounds.width())));
        QVERIFY2(blue.bounds.height() >= 148 && blue.bounds.height() <= 162,
                 qPrintable(QString::number(blue.bounds.height())));
        QVERIFY(blue.bounds.left() < page.width() / 4);
        QVERIFY(blue.bounds.top() < page.height() / 4);
        QVERIFY(blue.bounds.bottom() < page.height() / 2);
    }

    void printoutShowsAnOpenPanel()
    {
        Boxes boxes;
        auto render = [this](const QString &name) {
            const QString pdf = Tmp(name + QStringLiteral(".pdf"));
            ScriptPrintDialog(pdf);
            g1->NPrint->trigger();
            const QString prefix = Tmp(name);
            if (QProcess::execute(QStringLiteral("pdftoppm"),
                                  {"-png", "-r", "50", "-f", "1", "-l", "1", "-singlefile", pdf, prefix}) != 0)
                return QImage();
            return QImage(prefix + QStringLiteral(".png")).convertToFormat(QImage::Format_RGB32);
        };
        const QImage plain = render(QStringLiteral("plain"));
        Part<QWidget>(g1, "PTimeSet")->show();
        const QImage withPanel = render(QStringLiteral("panel"));
        QVERIFY(boxes.log().isEmpty());
        QVERIFY(!plain.isNull() && plain.size() == withPanel.size());

        // The panel covers the window's top strip between x 160 and 369:
        // the pages differ there and nowhere below the plot's top edge.
        const QRect blue = FindBlue(plain).bounds;
        int changedAbove = 0, changedBelow = 0;
        for (int y = 0; y < plain.height(); ++y)
            for (int x = 0; x < plain.width(); ++x)
                if (plain.pixel(x, y) != withPanel.pixel(x, y))
                    ++(y < blue.top() ? changedAbove : changedBelow);
        QVERIFY2(changedAbove > 100, qPrintable(QString::number(changedAbove)));
        QCOMPARE(changedBelow, 0);
    }

    // The real print dialog, with no printer installed, offers a PDF file:
    // the operator picks it, names the file and gets the window's page.
    void printDialogPrintsToAPdfFile()
    {
        Boxes boxes;
        const QString pdf = Tmp(QStringLiteral("dialog.pdf"));
        QString choices;
        QTimer::singleShot(0, [&] {
            QWidget *dialog = QApplication::activeModalWidget();
            auto *printers = dialog ? dialog->findChild<QComboBox *>(QStringLiteral("printers")) : nullptr;
            auto *file = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("filename")) : nullptr;
            auto *ok = dialog ? dialog->findChild<QDialogButtonBox *>() : nullptr;
            if (!printers || !file || !ok) {
                if (dialog)
                    dialog->close();
                return;
            }
            for (int i = 0; i < printers->count(); ++i)
                choices += printers->itemText(i) + QLatin1Char(';');
            printers->setCurrentIndex(printers->findText(QStringLiteral("PDF"), Qt::MatchContains));
            file->setText(pdf);
            ok->button(QDialogButtonBox::Ok)->click();
        });
        g1->NPrint->trigger();
        QVERIFY2(choices.contains(QStringLiteral("(PDF)")), qPrintable(choices));
        QVERIFY(boxes.log().isEmpty());
        const QString prefix = Tmp(QStringLiteral("dialog"));
        QCOMPARE(QProcess::execute(QStringLiteral("pdftoppm"), {"-png", "-r", "50", "-singlefile", pdf, prefix}), 0);
        const BlueArea blue = FindBlue(QImage(prefix + QStringLiteral(".png")));
        QVERIFY2(blue.count > 30000, qPrintable(QString::number(blue.count)));
    }

    void exceptionDuringPrintRestoresTheLiveDisplay()
    {
        Settings.InterfaceKind = 3;
        Boxes boxes;
        Platform::SetPrintDialogHook([](QPrinter &) -> bool { throw std::runtime_error("printer gone"); });
        g1->NPrint->trigger();
        QCOMPARE(boxes.log().size(), 2);
        QCOMPARE(boxes.log()[0].text, QStringLiteral("Подключите принтер вместо АЦП !"));
        CheckErrorReport(boxes.log()[1], QStringLiteral("printer gone."));
        QCOMPARE(DataFromMemory, uint8_t(1));
        QVERIFY(PrintSnapshot.empty());
    }

    void cancelledPrintDialogDoesNothing()
    {
        Boxes boxes;
        ScriptPrintDialog(QString());
        g1->NPrint->trigger();
        QCOMPARE(printDialogs, 1);
        QVERIFY(boxes.log().isEmpty());
        QCOMPARE(DataFromMemory, uint8_t(1));
        QVERIFY(PrintSnapshot.empty());
    }

    void lptHandOverFreezesEveryWindowOnThePrintingInput()
    {
        Settings.InterfaceKind = 3;
        std::vector<int32_t> in1(1024), in2(1024);
        for (int c = 0; c < 1024; ++c) {
            in1[static_cast<size_t>(c)] = 3 * c + 1;
            in2[static_cast<size_t>(c)] = 5000 - c;
        }
        SetCounts(1, in1);
        SetCounts(2, in2);
        Settings.Marker[0] = 0;
        Settings.Marker[1] = 1023;
        g1->TimerRisTimer();
        g2->TimerRisTimer();
        const QString integral1 = Part<QLabel>(g1, "LIntegralY")->text();
        const QString integral2 = Part<QLabel>(g2, "LIntegralY")->text();
        QVERIFY(integral1 != integral2);

        Platform::BoxLog().clear();
        bool frozenInFirstBox = false, sizeInFirstBox = false, stillFrozenInSecondBox = false;
        QString otherWindowIntegral;
        Platform::SetBoxAnswerer([&](const BoxRequest &) {
            if (Platform::BoxLog().size() == 1) {
                sizeInFirstBox = PrintSnapshot.size() == 1024;
                frozenInFirstBox = DataFromMemory == 0 && Counts(g2->InputNumber) == in1;
                g2->TimerRisTimer(); // the refresh goes on under the box
                otherWindowIntegral = Part<QLabel>(g2, "LIntegralY")->text();
            } else {
                stillFrozenInSecondBox = DataFromMemory == 0 && Counts(2) == in1;
            }
            return Answer::Ok;
        });
        const QString pdf = Tmp(QStringLiteral("lpt.pdf"));
        ScriptPrintDialog(pdf);
        g1->NPrint->trigger();

        const auto &log = Platform::BoxLog();
        QCOMPARE(log.size(), 2);
        CheckBox(log[0], QStringLiteral("К разъему LPT подключен АЦП ?"), QStringLiteral("Подключите принтер вместо АЦП !"),
                 Icon::NoIcon, Buttons::Ok);
        CheckBox(log[1], QStringLiteral("К разъему LPT подключен принтер ?"),
                 QStringLiteral("Подключите АЦП вместо принтера !"), Icon::NoIcon, Buttons::Ok);
        QVERIFY(sizeInFirstBox);
        QVERIFY(frozenInFirstBox);
        QCOMPARE(otherWindowIntegral, integral1);
        QCOMPARE(dataFromMemoryInDialog, uint8_t(0));
        QVERIFY(stillFrozenInSecondBox);
        QVERIFY(FileBytes(pdf).startsWith("%PDF"));

        // Live again: each window reads its own input.
        QCOMPARE(DataFromMemory, uint8_t(1));
        QVERIFY(PrintSnapshot.empty());
        QCOMPARE(PrintSnapshot.capacity(), size_t(0));
        QVERIFY(Counts(2) == in2);
        g2->TimerRisTimer();
        QCOMPARE(Part<QLabel>(g2, "LIntegralY")->text(), integral2);
    }

    void lptCancelledPrintStillShowsBothBoxes()
    {
        Settings.InterfaceKind = 3;
        Boxes boxes;
        int boxesBeforeDialog = -1;
        Platform::SetPrintDialogHook([&](QPrinter &) {
            boxesBeforeDialog = static_cast<int>(Platform::BoxLog().size());
            dataFromMemoryInDialog = DataFromMemory;
            return false;
        });
        g2->NPrint->trigger();
        QCOMPARE(boxesBeforeDialog, 1);
        QCOMPARE(dataFromMemoryInDialog, uint8_t(0));
        QCOMPARE(boxes.log().size(), 2);
        CheckBox(boxes.log()[0], QStringLiteral("К разъему LPT подключен АЦП ?"),
                 QStringLiteral("Подключите принтер вместо АЦП !"), Icon::NoIcon, Buttons::Ok);
        CheckBox(boxes.log()[1], QStringLiteral("К разъему LPT подключен принтер ?"),
                 QStringLiteral("Подключите АЦП вместо принтера !"), Icon::NoIcon, Buttons::Ok);
        QCOMPARE(DataFromMemory, uint8_t(1));
        QVERIFY(PrintSnapshot.empty());
    }

    void failedPrintJobIsReportedAndTheLiveDisplayReturns_data()
    {
        QTest::addColumn<int>("interfaceKind");
        QTest::newRow("ISA") << 0;
        QTest::newRow("printer port") << 3;
    }
    void failedPrintJobIsReportedAndTheLiveDisplayReturns()
    {
        QFETCH(int, interfaceKind);
        Settings.InterfaceKind = interfaceKind;
        Boxes boxes;
        const QString pdf = Tmp(QStringLiteral("nodir/page.pdf"));
        ScriptPrintDialog(pdf);
        g1->NPrint->trigger();
        QCOMPARE(printDialogs, 1);
        QVERIFY(!QFileInfo::exists(pdf));
        const auto &log = boxes.log();
        if (interfaceKind == 3) {
            QCOMPARE(log.size(), 3);
            QCOMPARE(log[0].text, QStringLiteral("Подключите принтер вместо АЦП !"));
            CheckErrorReport(log[1], QStringLiteral("Не удалось начать печать."));
            QCOMPARE(log[2].text, QStringLiteral("Подключите АЦП вместо принтера !"));
        } else {
            QCOMPARE(log.size(), 1);
            CheckErrorReport(log[0], QStringLiteral("Не удалось начать печать."));
        }
        QCOMPARE(DataFromMemory, uint8_t(1));
        QVERIFY(PrintSnapshot.empty());
    }
};

QTEST_MAIN(FilesUiTest)
#include "test_files_ui.moc"
