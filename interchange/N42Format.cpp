// ANSI N42.42-2011 XML, through Qt's XML stream reader and writer.
//
// Read: the root RadInstrumentData with exactly one RadMeasurement, holding
// exactly one Spectrum with exactly one ChannelData. Its counts are a
// white-space separated list, plain (compressionCode absent or "None") or
// "CountedZeroes", where a 0 is followed by the number of zero channels it
// stands for. Everything else in the document is passed over.

#include "interchange/InterchangeParsing.h"
#include "interchange/Interchange.h"

#include <QUuid>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

using namespace interchange_detail;

namespace {

inline constexpr const char *N42Namespace = "http://physics.nist.gov/N42/2011/N42";

QString AtElement(qint64 line, const QString &element, const QString &what)
{
    return QStringLiteral("line %1, element %2: %3").arg(line).arg(element, what);
}

// The counts of one ChannelData text.
bool ChannelDataCounts(QByteArrayView text, bool countedZeroes, SpectrumCounts &counts, QString &why)
{
    counts.clear();
    const std::vector<QByteArrayView> tokens = Tokens(text);
    for (size_t t = 0; t < tokens.size(); ++t) {
        int32_t v;
        if (!ParseCount(tokens[t], true, v, why))
            return false;
        size_t add = 1;
        if (countedZeroes && v == 0) {
            if (++t == tokens.size()) {
                why = QStringLiteral("CountedZeroes ends with a 0 that has no number of zero channels after it");
                return false;
            }
            int32_t zeroes = 0;
            if (!ParseCount(tokens[t], true, zeroes, why))
                return false;
            if (zeroes < 1) {
                why = QStringLiteral("'%1' after a 0 is not a positive number of zero channels").arg(Shown(tokens[t]));
                return false;
            }
            add = size_t(zeroes);
        }
        if (counts.size() + std::min(add, MaxChannels + 1) > MaxChannels) {
            why = QStringLiteral("more than %1 channels").arg(MaxChannels);
            return false;
        }
        counts.insert(counts.end(), add, v);
    }
    return true;
}

} // namespace

bool ReadN42Counts(const QByteArray &file, SpectrumCounts &counts, QString &problem)
{
    counts.clear();
    QXmlStreamReader xml(file);
    int measurements = 0, spectra = 0, channelData = 0;
    bool rootSeen = false;
    // Depth of the open RadMeasurement and Spectrum elements (0 = none).
    int depth = 0, measurementDepth = 0, spectrumDepth = 0;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement) {
            if (depth == spectrumDepth)
                spectrumDepth = 0;
            if (depth == measurementDepth)
                measurementDepth = 0;
            --depth;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        ++depth;
        const QStringView name = xml.name();
        const qint64 line = xml.lineNumber();
        if (!rootSeen) {
            rootSeen = true;
            if (name != QLatin1String("RadInstrumentData")) {
                problem = AtElement(line, name.toString(), QStringLiteral("the document is not RadInstrumentData"));
                return false;
            }
            continue;
        }
        if (depth == 2 && name == QLatin1String("RadMeasurement")) {
            if (++measurements > 1) {
                problem = AtElement(line, name.toString(), QStringLiteral("a second RadMeasurement; only one can be converted"));
                return false;
            }
            measurementDepth = depth;
        } else if (measurementDepth && depth == measurementDepth + 1 && name == QLatin1String("Spectrum")) {
            if (++spectra > 1) {
                problem = AtElement(line, name.toString(), QStringLiteral("a second Spectrum; only one can be converted"));
                return false;
            }
            spectrumDepth = depth;
        } else if (spectrumDepth && depth == spectrumDepth + 1 && name == QLatin1String("ChannelData")) {
            if (++channelData > 1) {
                problem = AtElement(line, name.toString(), QStringLiteral("a second ChannelData in the Spectrum"));
                return false;
            }
            const QString code = xml.attributes().value(QLatin1String("compressionCode")).toString();
            if (!code.isEmpty() && code != QLatin1String("None") && code != QLatin1String("CountedZeroes")) {
                problem = AtElement(line, name.toString(),
                                    QStringLiteral("compressionCode '%1' is neither None nor CountedZeroes").arg(Shown(code.toUtf8())));
                return false;
            }
            const QString text = xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
            --depth; // readElementText consumed the end element
            if (xml.hasError())
                break;
            QString why;
            if (!ChannelDataCounts(text.toUtf8(), code == QLatin1String("CountedZeroes"), counts, why)) {
                problem = AtElement(line, name.toString(), why);
                return false;
            }
            if (!IsSpectrumChannelCount(counts.size())) {
                problem = AtElement(line, name.toString(),
                                    ChannelCountProblem(QStringLiteral("%1 channels").arg(counts.size())));
                return false;
            }
        }
    }
    if (xml.hasError()) {
        problem = QStringLiteral("line %1, column %2: not well-formed XML: %3")
                      .arg(xml.lineNumber())
                      .arg(xml.columnNumber())
                      .arg(OneLine(xml.errorString())); // it may quote the document
        counts.clear();
        return false;
    }
    if (!rootSeen)
        problem = QStringLiteral("no RadInstrumentData element");
    else if (measurements == 0)
        problem = QStringLiteral("RadInstrumentData has no RadMeasurement");
    else if (spectra == 0)
        problem = QStringLiteral("RadMeasurement has no Spectrum");
    else if (channelData == 0)
        problem = QStringLiteral("Spectrum has no ChannelData");
    else
        return true;
    return false;
}

QByteArray WriteN42Counts(const SpectrumCounts &counts, const SpectrumWriteInfo &info)
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(QLatin1String(N42Namespace));
    xml.writeStartElement(QLatin1String(N42Namespace), QStringLiteral("RadInstrumentData"));
    xml.writeAttribute(QStringLiteral("n42DocUUID"), QUuid::createUuid().toString(QUuid::WithoutBraces));
    xml.writeTextElement(QStringLiteral("RadInstrumentDataCreatorName"), QStringLiteral("ryv_demo"));

    xml.writeStartElement(QStringLiteral("RadInstrumentInformation"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("RadInstrumentInformation-1"));
    xml.writeTextElement(QStringLiteral("RadInstrumentManufacturerName"), QStringLiteral("Unknown"));
    xml.writeTextElement(QStringLiteral("RadInstrumentModelName"), QStringLiteral("Multichannel pulse-height analyser"));
    xml.writeTextElement(QStringLiteral("RadInstrumentClassCode"), QStringLiteral("Other"));
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("RadDetectorInformation"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("RadDetectorInformation-1"));
    xml.writeTextElement(QStringLiteral("RadDetectorCategoryCode"), QStringLiteral("Gamma"));
    xml.writeTextElement(QStringLiteral("RadDetectorKindCode"), QStringLiteral("Other"));
    xml.writeEndElement();

    if (info.Calibration.Known) {
        xml.writeStartElement(QStringLiteral("EnergyCalibration"));
        xml.writeAttribute(QStringLiteral("id"), QStringLiteral("EnergyCalibration-1"));
        xml.writeTextElement(QStringLiteral("CoefficientValues"),
                             QString::fromLatin1(ShortestDouble(info.Calibration.Offset) + ' ' +
                                                 ShortestDouble(info.Calibration.Gain) + " 0"));
        xml.writeEndElement();
    }

    const QDateTime at = info.MeasuredAt.isValid() ? info.MeasuredAt : QDateTime::currentDateTime();
    xml.writeStartElement(QStringLiteral("RadMeasurement"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("RadMeasurement-1"));
    if (!info.Title.isEmpty())
        xml.writeTextElement(QStringLiteral("Remark"), info.Title);
    xml.writeTextElement(QStringLiteral("MeasurementClassCode"), QStringLiteral("Foreground"));
    // With its offset from UTC, as xs:dateTime allows.
    xml.writeTextElement(QStringLiteral("StartDateTime"),
                         at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate));
    // Live and real time are not kept in the program's spectrum files.
    xml.writeTextElement(QStringLiteral("RealTimeDuration"), QStringLiteral("PT0S"));
    xml.writeStartElement(QStringLiteral("Spectrum"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("Spectrum-1"));
    xml.writeAttribute(QStringLiteral("radDetectorInformationReference"), QStringLiteral("RadDetectorInformation-1"));
    if (info.Calibration.Known)
        xml.writeAttribute(QStringLiteral("energyCalibrationReference"), QStringLiteral("EnergyCalibration-1"));
    xml.writeTextElement(QStringLiteral("LiveTimeDuration"), QStringLiteral("PT0S"));
    xml.writeStartElement(QStringLiteral("ChannelData"));
    xml.writeAttribute(QStringLiteral("compressionCode"), QStringLiteral("None"));
    QByteArray list;
    list.reserve(qsizetype(counts.size()) * 8);
    for (size_t c = 0; c < counts.size(); ++c) {
        list += c % 16 == 0 ? "\n" : " ";
        list += QByteArray::number(counts[c]);
    }
    list += '\n';
    xml.writeCharacters(QString::fromLatin1(list));
    xml.writeEndElement(); // ChannelData
    xml.writeEndElement(); // Spectrum
    xml.writeEndElement(); // RadMeasurement
    xml.writeEndElement(); // RadInstrumentData
    xml.writeEndDocument();
    return out;
}
