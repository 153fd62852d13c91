// The file-to-file spectrum converter: settings, input, output.

#include "interchange/InterchangeParsing.h"
#include "interchange/Interchange.h"

#include "files/SpektrFiles.h"
#include "core/Uryv.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstring>

namespace {

// The calibration of the settings file at path: false with problem set when
// the file cannot be read whole.
bool CalibrationFromFile(const QString &path, EnergyCalibration &cal, QString &problem)
{
    QFile f(path);
    if (QFileInfo(path).isDir() || !f.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("%1: settings file cannot be opened: %2")
                      .arg(path, QFileInfo(path).isDir() ? QStringLiteral("is a folder") : f.errorString());
        return false;
    }
    const QByteArray bytes = f.read(sizeof(SettingsRecord));
    if (bytes.size() != qsizetype(sizeof(SettingsRecord))) {
        problem = QStringLiteral("%1: settings file holds %2 bytes; a settings record has %3")
                      .arg(path)
                      .arg(bytes.size() < 0 ? 0 : bytes.size())
                      .arg(sizeof(SettingsRecord));
        return false;
    }
    SettingsRecord r;
    std::memcpy(&r, bytes.constData(), sizeof r);
    SanitizeSettings(r);
    cal = CalibrationFromSettings(r);
    return true;
}

} // namespace

namespace {

int Convert(const QString &in, const QString &out, const QString &settingsPath, QString &errorLine)
{
    errorLine.clear();
    EnergyCalibration cal;
    const QString settings = !settingsPath.isEmpty()                             ? settingsPath
                             : QFileInfo::exists(QLatin1String(SettingsFileName)) ? QString::fromLatin1(SettingsFileName)
                                                                                  : QString();
    if (!settings.isEmpty() && !CalibrationFromFile(settings, cal, errorLine))
        return 2;

    const QFileInfo inInfo(in);
    QFile inFile(in);
    if (inInfo.isDir() || !inFile.open(QIODevice::ReadOnly)) {
        errorLine = QStringLiteral("%1: cannot be opened: %2")
                        .arg(in, inInfo.isDir() ? QStringLiteral("is a folder") : inFile.errorString());
        return 2;
    }
    if (inFile.size() > MaxInterchangeFileBytes) {
        errorLine = QStringLiteral("%1: %2 bytes; a spectrum file this converter reads has at most %3")
                        .arg(in)
                        .arg(inFile.size())
                        .arg(MaxInterchangeFileBytes);
        return 2;
    }
    const QByteArray bytes = inFile.read(MaxInterchangeFileBytes + 1);
    if (inFile.error() != QFileDevice::NoError || bytes.size() > MaxInterchangeFileBytes) {
        errorLine = QStringLiteral("%1: cannot be read: %2").arg(in, inFile.errorString());
        return 2;
    }
    inFile.close();

    SpectrumCounts counts;
    QString problem;
    if (!ReadSpectrumCounts(SpectrumFormatOfPath(in), bytes, counts, problem)) {
        errorLine = QStringLiteral("%1: %2").arg(in, problem);
        return 2;
    }

    SpectrumWriteInfo info;
    info.Calibration = cal;
    info.Title = inInfo.fileName();
    // The program's files carry no date: the time the input was last written
    // stands for the end of the measurement.
    info.MeasuredAt = inInfo.lastModified();
    const QByteArray result = WriteSpectrumCounts(SpectrumFormatOfPath(out), counts, info);

    // An existing out is replaced only as the program's own save would
    // replace it: a write-protected file stays as it is, even for root.
    switch (ReplaceRefusalOf(out.toStdString())) {
    case ReplaceRefusal::NotARegularFile:
        errorLine = QStringLiteral("%1: cannot be written: not a regular file").arg(out);
        return 2;
    case ReplaceRefusal::WriteProtected:
        errorLine = QStringLiteral("%1: cannot be written: the file is write-protected").arg(out);
        return 2;
    case ReplaceRefusal::None:
        break;
    }
    // A temporary file beside out, renamed over it only when all is written.
    QSaveFile outFile(out);
    if (!outFile.open(QIODevice::WriteOnly)) {
        errorLine = QStringLiteral("%1: cannot be created: %2").arg(out, outFile.errorString());
        return 2;
    }
    if (outFile.write(result) != result.size() || !outFile.commit()) {
        errorLine = QStringLiteral("%1: cannot be written: %2").arg(out, outFile.errorString());
        outFile.cancelWriting();
        return 2;
    }
    return 0;
}

} // namespace

int ConvertSpectrumFile(const QString &in, const QString &out, const QString &settingsPath,
                        QString &errorLine)
{
    const int rc = Convert(in, out, settingsPath, errorLine);
    // File names and system messages may hold line ends: the report stays
    // one line.
    errorLine = interchange_detail::OneLine(errorLine);
    return rc;
}
