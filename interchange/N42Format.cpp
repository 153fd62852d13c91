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
                why = QStringLiteral("count '%1' is longer than %2 characters").arg(Shown(partial_.toUtf8()), QString::number(MaxTokenChars));
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

namespace {

QString ClassOf(QStringView code)
{
    const QString c = code.trimmed().toString().toLower();
    if (c == QLatin1String("background"))
        return QStringLiteral("background");
    if (c == QLatin1String("calibration"))
        return QStringLiteral("calibration");
    if (c == QLatin1String("intrinsicactivity"))
        return QStringLiteral("intrinsic activity");
    return QStringLiteral("foreground");
}

} // namespace

bool ReadN42Spectra(const QByteArray &file, int wanted, SpectrumCounts &counts, SpectrumFacts *facts,
                    std::vector<SpectrumEntry> *list, QString &problem)
{
    counts.clear();
    if (list)
        list->clear();
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
    auto localName = [&] {
        QStringView name = xml.name();
        if (const qsizetype colon = name.lastIndexOf(QLatin1Char(':')); colon >= 0)
            name = name.sliced(colon + 1);
        return name;
    };
    auto attribute = [&](const char *name) {
        for (const QXmlStreamAttribute &a : xml.attributes()) {
            QStringView n = a.qualifiedName();
            if (const qsizetype colon = n.lastIndexOf(QLatin1Char(':')); colon >= 0)
                n = n.sliced(colon + 1);
            if (n == QLatin1String(name))
                return a.value().toString();
        }
        return QString();
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
    auto coefficientsOf = [](const QString &text) {
        std::vector<double> c;
        for (const QString &v : text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            double d;
            if (c.size() < 8 && ParseNumber(v.toLatin1(), d))
                c.push_back(d);
        }
        return c;
    };

    // The open measurement and spectrum (depth 0 = none); what they state.
    struct Measurement {
        int depth = 0;
        QString id, cls;
        std::optional<double> realTime;
        QDateTime start;
    } m;
    struct Spectrum {
        int depth = 0;
        QString id, detector, calibrationReference, cls;
        std::optional<double> realTime, liveTime;
        QDateTime start;
        EnergyCalibration own;
        bool channelData = false;
        size_t channels = 0;
    } sp;
    SpectrumCounts scratch;
    SpectrumEntry chosenEntry;
    QString chosenReference;
    std::vector<QString> listReferences;
    auto resolve = [&](const QString &reference, EnergyCalibration &cal) {
        const QStringList ids = reference.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const Calibration &c : calibrations)
            if (!cal.Known && ids.contains(c.Id))
                cal = c.Cal;
    };
    int index = 0; // of spectra ended so far
    bool chosen = false, rootSeen = false;
    int measurements = 0;
    int depth = 0;
    while (!xml.hasError()) {
        const QXmlStreamReader::TokenType token = next();
        if (token == QXmlStreamReader::EndDocument || token == QXmlStreamReader::Invalid)
            break;
        if (token == QXmlStreamReader::EndElement) {
            if (sp.depth && depth == sp.depth) {
                sp.depth = 0;
                if (!sp.channelData) {
                    problem = QStringLiteral("Spectrum %1 has no ChannelData").arg(Shown(sp.id.toUtf8()));
                    return false;
                }
                ++index;
                SpectrumEntry e;
                e.Index = index;
                e.Measurement = m.id;
                e.Id = sp.id;
                e.Detector = sp.detector;
                e.Class = !sp.cls.isEmpty() ? sp.cls : !m.cls.isEmpty() ? m.cls : QStringLiteral("foreground");
                e.Channels = sp.channels;
                e.Facts.RealTime = sp.realTime ? sp.realTime : m.realTime;
                e.Facts.LiveTime = sp.liveTime;
                e.Facts.Start = sp.start.isValid() ? sp.start : m.start;
                e.Facts.Calibration = sp.own;
                // A calibration referred to may follow the spectrum: references
                // are resolved at the end of the document.
                const QString reference = sp.own.Known ? QString() : sp.calibrationReference;
                const bool pick = !chosen && (wanted > 0 ? index == wanted : e.Class == QLatin1String("foreground"));
                if (pick) {
                    chosen = true;
                    counts.swap(scratch);
                    chosenEntry = e;
                    chosenReference = reference;
                }
                if (list && list->size() < 100000) {
                    list->push_back(e);
                    listReferences.push_back(reference);
                }
            }
            if (m.depth && depth == m.depth)
                m = Measurement();
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
            if (name != QLatin1String("RadInstrumentData") && name != QLatin1String("N42InstrumentData")) {
                problem = AtElement(line, name.toString(), QStringLiteral("the document is neither RadInstrumentData nor N42InstrumentData"));
                return false;
            }
            continue;
        }
        auto textOf = [&](QString &text) {
            const bool ok = elementText(text);
            --depth; // its end is consumed
            text = text.trimmed();
            return ok;
        };
        QString text;
        double seconds;
        if (name == QLatin1String("EnergyCalibration") || name == QLatin1String("Calibration")) {
            // 2011: EnergyCalibration id=, CoefficientValues; 2006:
            // Calibration Type="Energy" ID=, Equation/Coefficients.
            const bool energy = name == QLatin1String("EnergyCalibration") || attribute("Type").isEmpty() ||
                                attribute("Type") == QLatin1String("Energy");
            Calibration c;
            c.Id = name == QLatin1String("EnergyCalibration") ? attribute("id") : attribute("ID");
            bool untrue = false;
            std::vector<double> coefficients;
            const int at = depth;
            while (!xml.hasError() && depth >= at) {
                const QXmlStreamReader::TokenType t = next();
                if (t == QXmlStreamReader::Invalid || t == QXmlStreamReader::EndDocument)
                    break;
                if (t == QXmlStreamReader::EndElement) {
                    --depth;
                } else if (t == QXmlStreamReader::StartElement) {
                    ++depth;
                    const QString child = localName().toString();
                    if (child == QLatin1String("CoefficientValues") || child == QLatin1String("Coefficients")) {
                        if (!textOf(text))
                            break;
                        coefficients = coefficientsOf(text);
                    } else if (child == QLatin1String("Remark")) {
                        if (!textOf(text))
                            break;
                        untrue = untrue || text == QLatin1String(NoCalibrationRemark);
                    }
                }
            }
            if (xml.hasError())
                break;
            if (!energy)
                continue; // a resolution or efficiency calibration
            if (!untrue)
                c.Cal = CalibrationFromCoefficients(coefficients);
            if (sp.depth && c.Id.isEmpty())
                sp.own = c.Cal;
            else if (calibrations.size() < 1024)
                calibrations.push_back(c);
            continue;
        }
        if (name == QLatin1String("RadMeasurement") || name == QLatin1String("Measurement")) {
            if (m.depth || sp.depth) {
                problem = AtElement(line, name.toString(), QStringLiteral("a measurement inside a measurement"));
                return false;
            }
            ++measurements;
            m = Measurement();
            m.depth = depth;
            m.id = attribute(name == QLatin1String("Measurement") ? "UUID" : "id");
            if (m.id.isEmpty())
                m.id = attribute("id");
            continue;
        }
        if (name == QLatin1String("Spectrum") && !sp.depth) {
            sp = Spectrum();
            sp.depth = depth;
            sp.id = attribute("id");
            if (sp.id.isEmpty())
                sp.id = attribute("ID");
            sp.detector = attribute("radDetectorInformationReference");
            if (sp.detector.isEmpty())
                sp.detector = attribute("Detector");
            sp.calibrationReference = attribute("energyCalibrationReference");
            if (sp.calibrationReference.isEmpty())
                sp.calibrationReference = attribute("CalibrationIDs");
            scratch.clear();
            continue;
        }
        if (name == QLatin1String("MeasurementClassCode") || name == QLatin1String("SourceType")) {
            if (!textOf(text))
                break;
            (sp.depth && name == QLatin1String("SourceType") ? sp.cls : m.cls) = ClassOf(text);
            continue;
        }
        if (name == QLatin1String("StartDateTime") || name == QLatin1String("StartTime")) {
            if (!textOf(text))
                break;
            const QDateTime at = QDateTime::fromString(text, Qt::ISODateWithMs);
            if (at.isValid())
                (sp.depth ? sp.start : m.start) = at;
            continue;
        }
        if (name == QLatin1String("RealTimeDuration") || name == QLatin1String("RealTime")) {
            if (!textOf(text))
                break;
            if (ParseDuration(text, seconds) && seconds > 0)
                (sp.depth ? sp.realTime : m.realTime) = seconds;
            continue;
        }
        if (sp.depth && (name == QLatin1String("LiveTimeDuration") || name == QLatin1String("LiveTime"))) {
            if (!textOf(text))
                break;
            if (ParseDuration(text, seconds) && seconds >= 0)
                sp.liveTime = seconds;
            continue;
        }
        if (sp.depth && name == QLatin1String("ChannelData")) {
            const QString element = name.toString();
            if (sp.channelData) {
                problem = AtElement(line, element, QStringLiteral("a second ChannelData in the Spectrum"));
                return false;
            }
            sp.channelData = true;
            // compressionCode, or Compression as a draft of the format and
            // its 2006 edition name it.
            QString code = attribute("compressionCode");
            if (code.isEmpty())
                code = attribute("Compression");
            if (!code.isEmpty() && code != QLatin1String("None") && code != QLatin1String("CountedZeroes")) {
                problem = AtElement(line, element,
                                    QStringLiteral("compressionCode '%1' is neither None nor CountedZeroes").arg(Shown(code.toUtf8())));
                return false;
            }
            // The element's text, piece by piece; comments and processing
            // instructions inside are passed over, an element is an error.
            ChannelDataCounts collector(code == QLatin1String("CountedZeroes"), scratch);
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
            if (!IsInterchangeChannelCount(scratch.size())) {
                problem = AtElement(line, element,
                                    InterchangeChannelCountProblem(QStringLiteral("%1 channels").arg(scratch.size())));
                return false;
            }
            sp.channels = scratch.size();
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
    else if (index == 0)
        problem = QStringLiteral("RadMeasurement has no Spectrum");
    else if (!chosen && wanted > 0)
        problem = QStringLiteral("no spectrum %1; the file holds %2").arg(wanted).arg(index);
    else if (!chosen && (wanted == 0 || !list))
        problem = QStringLiteral("no foreground spectrum among %1; choose one with --spectrum N").arg(index);
    else {
        // a listing needs no choice
        if (list)
            for (size_t k = 0; k < list->size(); ++k)
                resolve(listReferences[k], (*list)[k].Facts.Calibration);
        if (chosen) {
            resolve(chosenReference, chosenEntry.Facts.Calibration);
            if (facts)
                *facts = chosenEntry.Facts;
        }
        return true;
    }
    counts.clear();
    return false;
}

bool ReadN42Counts(const QByteArray &file, SpectrumCounts &counts, QString &problem, SpectrumFacts *facts)
{
    return ReadN42Spectra(file, 0, counts, facts, nullptr, problem);
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
    // Names and versions are one word each where they hold punctuation: the
    // schema's non-blank string allows punctuation in one run only.
    xml.writeTextElement(QStringLiteral("RadInstrumentDataCreatorName"), QStringLiteral("ryv_demo"));

    xml.writeStartElement(QStringLiteral("RadInstrumentInformation"));
    xml.writeAttribute(QStringLiteral("id"), QStringLiteral("RadInstrumentInformation-1"));
    xml.writeTextElement(QStringLiteral("RadInstrumentManufacturerName"), QStringLiteral("Unknown"));
    const QString unknown = QStringLiteral("Unknown");
    xml.writeTextElement(QStringLiteral("RadInstrumentModelName"),
                         info.Instrument.isEmpty() ? unknown : info.Instrument);
    xml.writeTextElement(QStringLiteral("RadInstrumentClassCode"), QStringLiteral("Other"));
    xml.writeStartElement(QStringLiteral("RadInstrumentVersion"));
    xml.writeTextElement(QStringLiteral("RadInstrumentComponentName"), QStringLiteral("Software"));
    xml.writeTextElement(QStringLiteral("RadInstrumentComponentVersion"),
                         info.InstrumentVersion.isEmpty() ? unknown : info.InstrumentVersion);
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
