// ANSI N42.42-2011 XML, through Qt's XML stream reader and writer.
//
// Read: the root RadInstrumentData with exactly one RadMeasurement, holding
// exactly one Spectrum with exactly one ChannelData. Its counts are a
// white-space separated list, plain (compressionCode absent or "None") or
// "CountedZeroes", where a 0 is followed by the number of zero channels it
// stands for. The measurement's StartDateTime and RealTimeDuration, the
// spectrum's LiveTimeDuration and the EnergyCalibration it refers to are its
// facts. Everything else in the document is passed over, whatever its
// namespace prefix (names are matched by their local part).

#include "interchange/InterchangeParsing.h"
#include "interchange/Interchange.h"

#include <QUuid>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

using namespace interchange_detail;

namespace {

inline constexpr const char *N42Namespace = "http://physics.nist.gov/N42/2011/N42";
// The remark of the calibration an N42 file needs when none is known: its
// coefficients are the channel number, and a reader takes no calibration
// from it.
inline constexpr const char *NoCalibrationRemark = "No energy calibration is known: the coefficients give the channel number.";

QString AtElement(qint64 line, const QString &element, const QString &what)
{
    return QStringLiteral("line %1, element %2: %3").arg(line).arg(element, what);
}

// Qt's stream reader takes time growing with the square of the number of
// attributes of one element, and it holds a whole text, comment or tag in
// memory, decoded, while it parses it; deeper nesting than this is not N42
// either. Documents within these limits are read in time and memory linear
// in their size.
inline constexpr int MaxAttributes = 64;
inline constexpr int MaxDepth = 64;
inline constexpr qsizetype MaxPieceBytes = 4 << 20;

// One pass over the bytes before the XML reader sees them: an element with
// too many attributes, nested too deep, or a single text, comment or tag
// longer than MaxPieceBytes is refused with the line it starts on.
// Malformed markup is left to the reader to report.
bool ShapeWithinLimits(QByteArrayView doc, QString &problem)
{
    const qsizetype n = doc.size();
    qint64 line = 1;
    int depth = 0;
    qsizetype textFrom = 0; // where the text since the last markup began
    qint64 textLine = 1;
    auto tooLong = [&](qsizetype from, qsizetype to, qint64 at) {
        if (to - from <= MaxPieceBytes)
            return false;
        problem = QStringLiteral("line %1: a single text, comment or tag of more than %2 bytes").arg(at).arg(MaxPieceBytes);
        return true;
    };
    auto skipPast = [&](qsizetype &i, QByteArrayView end) {
        const qsizetype at = doc.indexOf(end, i);
        const qsizetype stop = at < 0 ? n : at + end.size();
        line += QByteArrayView(doc.data() + i, stop - i).count('\n');
        i = stop;
    };
    for (qsizetype i = 0; i < n;) {
        const char ch = doc[i];
        if (ch == '\n')
            ++line;
        if (ch != '<') {
            ++i;
            continue;
        }
        if (tooLong(textFrom, i, textLine))
            return false;
        const qsizetype markupFrom = i;
        const qint64 markupLine = line;
        const QByteArrayView at = doc.sliced(i);
        if (at.startsWith("<!--")) {
            skipPast(i, "-->");
        } else if (at.startsWith("<![CDATA[")) {
            skipPast(i, "]]>");
        } else if (at.startsWith("<?")) {
            skipPast(i, "?>");
        } else if (at.startsWith("<!")) {
            // A document type declaration: its internal subset in brackets.
            int brackets = 0;
            char quote = 0;
            for (++i; i < n; ++i) {
                const char c = doc[i];
                line += c == '\n';
                if (quote) {
                    quote = c == quote ? 0 : quote;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '[') {
                    ++brackets;
                } else if (c == ']') {
                    --brackets;
                } else if (c == '>' && brackets <= 0) {
                    ++i;
                    break;
                }
            }
        } else if (at.startsWith("</")) {
            --depth;
            skipPast(i, ">");
        } else {
            const qint64 tagLine = line;
            int attributes = 0;
            char quote = 0, last = 0;
            for (++i; i < n; ++i) {
                const char c = doc[i];
                line += c == '\n';
                if (quote) {
                    quote = c == quote ? 0 : quote;
                    continue;
                }
                if (c == '"' || c == '\'')
                    quote = c;
                else if (c == '=')
                    ++attributes;
                else if (c == '>')
                    break;
                if (!IsAsciiSpace(c))
                    last = c;
            }
            ++i;
            if (attributes > MaxAttributes) {
                problem = QStringLiteral("line %1: an element with more than %2 attributes").arg(tagLine).arg(MaxAttributes);
                return false;
            }
            if (last != '/' && ++depth > MaxDepth) {
                problem = QStringLiteral("line %1: elements nested more than %2 deep").arg(tagLine).arg(MaxDepth);
                return false;
            }
        }
        if (tooLong(markupFrom, i, markupLine))
            return false;
        textFrom = i;
        textLine = line;
    }
    return !tooLong(textFrom, n, textLine);
}

// Collects the counts of a ChannelData text that arrives in pieces: a
// token may run on from one piece into the next.
class ChannelDataCounts {
public:
    ChannelDataCounts(bool countedZeroes, SpectrumCounts &counts) : countedZeroes_(countedZeroes), counts_(counts)
    {
        counts_.clear();
    }
    bool Add(QStringView text, QString &why)
    {
        for (QChar ch : text) {
            if (ch.unicode() < 0x80 && IsAsciiSpace(char(ch.unicode()))) {
                if (!partial_.isEmpty() && !Token(why))
                    return false;
                continue;
            }
            if (partial_.size() == MaxTokenChars) {
                why = QStringLiteral("count '%1' is longer than %2 characters").arg(Shown(partial_.toUtf8())).arg(MaxTokenChars);
                return false;
            }
            partial_.append(ch);
        }
        return true;
    }
    bool Finish(QString &why)
    {
        if (!partial_.isEmpty() && !Token(why))
            return false;
        if (awaitingZeroes_) {
            why = QStringLiteral("CountedZeroes ends with a 0 that has no number of zero channels after it");
            return false;
        }
        return true;
    }

private:
    static constexpr qsizetype MaxTokenChars = 4096;

    bool Token(QString &why)
    {
        const QByteArray token = partial_.toUtf8();
        partial_.clear();
        int32_t v;
        if (!ParseCount(token, true, v, why))
            return false;
        size_t add = 1;
        if (awaitingZeroes_) {
            awaitingZeroes_ = false;
            if (v < 1) {
                why = QStringLiteral("'%1' after a 0 is not a positive number of zero channels").arg(Shown(token));
                return false;
            }
            add = size_t(v);
            v = 0;
        } else if (countedZeroes_ && v == 0) {
            awaitingZeroes_ = true;
            return true;
        }
        if (counts_.size() + std::min(add, MaxChannels + 1) > MaxChannels) {
            why = QStringLiteral("more than %1 channels").arg(MaxChannels);
            return false;
        }
        counts_.insert(counts_.end(), add, v);
        return true;
    }

    bool countedZeroes_;
    bool awaitingZeroes_ = false;
    SpectrumCounts &counts_;
    QString partial_;
};

} // namespace

bool ReadN42Counts(const QByteArray &file, SpectrumCounts &counts, QString &problem, SpectrumFacts *facts)
{
    counts.clear();
    SpectrumFacts found;
    QString calibrationReference;
    struct Calibration {
        QString Id;
        EnergyCalibration Cal;
    };
    std::vector<Calibration> calibrations;
    if (!ShapeWithinLimits(file, problem))
        return false;
    // The document goes to the reader in pieces, so that it never holds a
    // decoded copy of the whole file. The reader parses a token that a piece
    // cut short again from its start: while no token comes out, the pieces
    // double, which keeps a long comment or text linear in its length.
    qsizetype piece = qsizetype(1) << 16;
    qsizetype fed = 0;
    bool progressed = true;
    QXmlStreamReader xml;
    // Extensions of other makers use prefixes that need not be declared for
    // the parts this reader takes: names are matched by their local part.
    xml.setNamespaceProcessing(false);
    auto next = [&] {
        for (;;) {
            const QXmlStreamReader::TokenType token = xml.readNext();
            if (token != QXmlStreamReader::Invalid || xml.error() != QXmlStreamReader::PrematureEndOfDocumentError ||
                fed >= file.size()) {
                progressed = true;
                return token;
            }
            if (!progressed)
                piece *= 2;
            progressed = false;
            const qsizetype k = std::min(piece, file.size() - fed);
            xml.addData(file.mid(fed, k));
            fed += k;
        }
    };
    int measurements = 0, spectra = 0, channelData = 0;
    bool rootSeen = false;
    // Depth of the open RadMeasurement and Spectrum elements (0 = none).
    int depth = 0, measurementDepth = 0, spectrumDepth = 0;
    auto localName = [&] {
        QStringView name = xml.name();
        if (const qsizetype colon = name.lastIndexOf(QLatin1Char(':')); colon >= 0)
            name = name.sliced(colon + 1);
        return name;
    };
    // The text of the element just started, up to its end (elements inside
    // are passed over); false on an error of the document.
    auto elementText = [&](QString &text) {
        text.clear();
        int inner = 0;
        for (;;) {
            switch (next()) {
            case QXmlStreamReader::Characters:
            case QXmlStreamReader::EntityReference:
                if (inner == 0 && text.size() < 4096)
                    text += xml.text().left(4096);
                break;
            case QXmlStreamReader::StartElement:
                ++inner;
                break;
            case QXmlStreamReader::EndElement:
                if (inner-- == 0)
                    return true;
                break;
            case QXmlStreamReader::Invalid:
            case QXmlStreamReader::EndDocument:
                return false;
            default:
                break;
            }
        }
    };
    while (!xml.hasError()) {
        const QXmlStreamReader::TokenType token = next();
        if (token == QXmlStreamReader::EndDocument || token == QXmlStreamReader::Invalid)
            break;
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
        const QStringView name = localName();
        const qint64 line = xml.lineNumber();
        if (!rootSeen) {
            rootSeen = true;
            if (name != QLatin1String("RadInstrumentData")) {
                problem = AtElement(line, name.toString(), QStringLiteral("the document is not RadInstrumentData"));
                return false;
            }
            continue;
        }
        if (depth == 2 && name == QLatin1String("EnergyCalibration")) {
            Calibration c;
            c.Id = xml.attributes().value(QLatin1String("id")).toString();
            bool untrue = false;
            std::vector<double> coefficients;
            // Its children, up to its end.
            for (bool ended = false; !ended && !xml.hasError();) {
                const QXmlStreamReader::TokenType t = next();
                if (t == QXmlStreamReader::Invalid || t == QXmlStreamReader::EndDocument)
                    break;
                if (t == QXmlStreamReader::EndElement) {
                    ended = true;
                } else if (t == QXmlStreamReader::StartElement) {
                    const QString child = localName().toString();
                    QString text;
                    if (!elementText(text))
                        break;
                    if (child == QLatin1String("CoefficientValues")) {
                        coefficients.clear();
                        for (const QString &v : text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                            double d;
                            if (coefficients.size() < 8 && ParseNumber(v.toLatin1(), d))
                                coefficients.push_back(d);
                        }
                    } else if (child == QLatin1String("Remark") && text.trimmed() == QLatin1String(NoCalibrationRemark)) {
                        untrue = true;
                    }
                }
            }
            --depth;
            if (xml.hasError())
                break;
            if (!untrue)
                c.Cal = CalibrationFromCoefficients(coefficients);
            if (calibrations.size() < 1024)
                calibrations.push_back(c);
            continue;
        }
        if (depth == 2 && name == QLatin1String("RadMeasurement")) {
            if (++measurements > 1) {
                problem = AtElement(line, name.toString(), QStringLiteral("a second RadMeasurement; only one can be converted"));
                return false;
            }
            measurementDepth = depth;
        } else if (measurementDepth && depth == measurementDepth + 1 &&
                   (name == QLatin1String("StartDateTime") || name == QLatin1String("RealTimeDuration"))) {
            const bool start = name == QLatin1String("StartDateTime");
            QString text;
            if (!elementText(text))
                break;
            --depth;
            text = text.trimmed();
            double seconds;
            if (start) {
                const QDateTime at = QDateTime::fromString(text, Qt::ISODateWithMs);
                if (at.isValid())
                    found.Start = at;
            } else if (ParseDuration(text, seconds) && seconds > 0) {
                found.RealTime = seconds;
            }
        } else if (measurementDepth && depth == measurementDepth + 1 && name == QLatin1String("Spectrum")) {
            if (++spectra > 1) {
                problem = AtElement(line, name.toString(), QStringLiteral("a second Spectrum; only one can be converted"));
                return false;
            }
            calibrationReference = xml.attributes().value(QLatin1String("energyCalibrationReference")).toString();
            spectrumDepth = depth;
        } else if (spectrumDepth && depth == spectrumDepth + 1 && name == QLatin1String("LiveTimeDuration")) {
            QString text;
            if (!elementText(text))
                break;
            --depth;
            double seconds;
            if (ParseDuration(text, seconds) && seconds >= 0)
                found.LiveTime = seconds;
        } else if (spectrumDepth && depth == spectrumDepth + 1 && name == QLatin1String("ChannelData")) {
            const QString element = name.toString();
            if (++channelData > 1) {
                problem = AtElement(line, element, QStringLiteral("a second ChannelData in the Spectrum"));
                return false;
            }
            // compressionCode, or Compression as a draft of the format names it.
            QString code = xml.attributes().value(QLatin1String("compressionCode")).toString();
            if (code.isEmpty())
                code = xml.attributes().value(QLatin1String("Compression")).toString();
            if (!code.isEmpty() && code != QLatin1String("None") && code != QLatin1String("CountedZeroes")) {
                problem = AtElement(line, element,
                                    QStringLiteral("compressionCode '%1' is neither None nor CountedZeroes").arg(Shown(code.toUtf8())));
                return false;
            }
            // The element's text, piece by piece; comments and processing
            // instructions inside are passed over, an element is an error.
            ChannelDataCounts collector(code == QLatin1String("CountedZeroes"), counts);
            QString why;
            bool ended = false;
            while (!ended && !xml.hasError()) {
                switch (next()) {
                case QXmlStreamReader::Characters:
                case QXmlStreamReader::EntityReference:
                    if (!collector.Add(xml.text(), why)) {
                        problem = AtElement(line, element, why);
                        return false;
                    }
                    break;
                case QXmlStreamReader::StartElement:
                    xml.raiseError(QStringLiteral("Expected character data."));
                    break;
                case QXmlStreamReader::EndElement:
                    ended = true;
                    break;
                default:
                    break;
                }
            }
            --depth; // the end element is consumed
            if (xml.hasError())
                break;
            if (!collector.Finish(why)) {
                problem = AtElement(line, element, why);
                return false;
            }
            if (!IsInterchangeChannelCount(counts.size())) {
                problem = AtElement(line, element,
                                    InterchangeChannelCountProblem(QStringLiteral("%1 channels").arg(counts.size())));
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
    else {
        for (const Calibration &c : calibrations)
            if (!calibrationReference.isEmpty() && c.Id == calibrationReference)
                found.Calibration = c.Cal;
        if (facts)
            *facts = found;
        return true;
    }
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
    xml.writeTextElement(QStringLiteral("RadInstrumentDataCreatorName"), QStringLiteral("ryv_demo " RYV_VERSION));

    xml.writeStartElement(QStringLiteral("RadInstrumentInformation"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("RadInstrumentInformation-1"));
    xml.writeTextElement(QStringLiteral("RadInstrumentManufacturerName"), QStringLiteral("Unknown"));
    xml.writeTextElement(QStringLiteral("RadInstrumentModelName"),
                         info.Instrument.isEmpty() ? QStringLiteral("ryv_demo") : info.Instrument);
    xml.writeTextElement(QStringLiteral("RadInstrumentClassCode"), QStringLiteral("Other"));
    xml.writeStartElement(QStringLiteral("RadInstrumentVersion"));
    xml.writeTextElement(QStringLiteral("RadInstrumentComponentName"), QStringLiteral("Software"));
    xml.writeTextElement(QStringLiteral("RadInstrumentComponentVersion"), QStringLiteral("ryv_demo " RYV_VERSION));
    xml.writeEndElement();
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("RadDetectorInformation"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("RadDetectorInformation-1"));
    xml.writeTextElement(QStringLiteral("RadDetectorCategoryCode"), QStringLiteral("Gamma"));
    xml.writeTextElement(QStringLiteral("RadDetectorKindCode"), QStringLiteral("Other"));
    xml.writeEndElement();

    // A spectrum must refer to a calibration: without a known one it refers
    // to the channel numbers, marked so by its remark.
    xml.writeStartElement(QStringLiteral("EnergyCalibration"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("EnergyCalibration-1"));
    if (!info.Calibration.Known)
        xml.writeTextElement(QStringLiteral("Remark"), QLatin1String(NoCalibrationRemark));
    xml.writeTextElement(QStringLiteral("CoefficientValues"),
                         info.Calibration.Known
                             ? QString::fromLatin1(ShortestDouble(info.Calibration.Offset) + ' ' +
                                                   ShortestDouble(info.Calibration.Gain) + ' ' +
                                                   ShortestDouble(info.Calibration.Quadratic) +
                                                   (info.Calibration.Cubic != 0
                                                        ? ' ' + ShortestDouble(info.Calibration.Cubic)
                                                        : QByteArray()))
                             : QStringLiteral("0 1 0"));
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("RadMeasurement"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("RadMeasurement-1"));
    if (!info.Title.isEmpty())
        xml.writeTextElement(QStringLiteral("Remark"), info.Title);
    xml.writeTextElement(QStringLiteral("MeasurementClassCode"), QStringLiteral("Foreground"));
    // With its offset from UTC, as xs:dateTime allows. Callers make sure
    // that the start and the real time are known (N42MissingFact).
    if (info.Start.isValid())
        xml.writeTextElement(QStringLiteral("StartDateTime"),
                             info.Start.toOffsetFromUtc(info.Start.offsetFromUtc()).toString(Qt::ISODate));
    if (info.RealTime)
        xml.writeTextElement(QStringLiteral("RealTimeDuration"), DurationText(*info.RealTime));
    xml.writeStartElement(QStringLiteral("Spectrum"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("Spectrum-1"));
    xml.writeAttribute(QStringLiteral("radDetectorInformationReference"), QStringLiteral("RadDetectorInformation-1"));
    xml.writeAttribute(QStringLiteral("energyCalibrationReference"), QStringLiteral("EnergyCalibration-1"));
    if (info.LiveTime)
        xml.writeTextElement(QStringLiteral("LiveTimeDuration"), DurationText(*info.LiveTime));
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
