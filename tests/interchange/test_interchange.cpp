// Tests of the spectrum converter: round trips through every format, files
// written by hand after the formats' public descriptions, the calibration
// written from the settings file, and malformed inputs.

#include "interchange/Interchange.h"

#include "files/SpektrFiles.h"
#include "core/Uryv.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Varied signs and magnitudes, the 32-bit extremes and runs of zeros.
SpectrumCounts Pattern(int n)
{
    SpectrumCounts v(size_t(n), 0);
    for (int c = 0; c < n; ++c) {
        uint32_t x = uint32_t(c) * 2654435761u;
        x ^= x >> 13;
        x *= 0x5bd1e995u;
        v[size_t(c)] = c % 7 == 3 ? 0 : int32_t(x) >> (c % 29);
    }
    v[1] = INT32_MIN;
    v[2] = INT32_MAX;
    v[3] = -1;
    return v;
}

QByteArray BinaryOf(const SpectrumCounts &counts)
{
    QByteArray b(qsizetype(counts.size()) * 4, '\0');
    std::memcpy(b.data(), counts.data(), size_t(b.size())); // little-endian, as the format
    return b;
}

SettingsRecord CalibratedSettings(double c1, double e1, double c2, double e2)
{
    SettingsRecord r = DefaultSettings();
    r.LeftPeakCentroid = c1;
    r.LeftPeakEnergy = e1;
    r.RightPeakCentroid = c2;
    r.RightPeakEnergy = e2;
    return r;
}

class Interchange : public ::testing::Test {
protected:
    QString P(const QString &name) const { return dir_.filePath(name); }

    void Put(const QString &name, const QByteArray &bytes) const
    {
        QFile f(P(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    void PutSettings(const QString &name, const SettingsRecord &r) const
    {
        Put(name, QByteArray(reinterpret_cast<const char *>(&r), sizeof r));
    }

    QByteArray Get(const QString &name) const
    {
        QFile f(P(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    // xmllint's verdict on the N42 file name against the format's published
    // schema and the structure the program's N42 files have; empty when
    // both validate.
    std::string N42Invalid(const QString &name) const
    {
        for (const char *schema : {RYV_N42_SCHEMA, RYV_N42_STRUCTURE}) {
            const std::string cmd = std::string("xmllint --noout --schema '") + schema + "' '" +
                                    P(name).toStdString() + "' 2>" + P("xmllint.txt").toStdString();
            const int rc = std::system(cmd.c_str());
            const QByteArray said = Get("xmllint.txt");
            QFile::remove(P("xmllint.txt"));
            if (rc != 0)
                return said.toStdString() + " (rc " + std::to_string(rc) + ")";
        }
        return {};
    }

    QStringList Listing() const { return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System); }

    int Convert(const QString &in, const QString &out, const QString &settings = {},
                const SpectrumFacts &given = Given())
    {
        error_.clear();
        return ConvertSpectrumFile(P(in), P(out), settings.isEmpty() ? QString() : P(settings), given, error_,
                                   &note_);
    }

    // The facts a command line gives for an input of the program's formats.
    static SpectrumFacts Given()
    {
        SpectrumFacts f;
        f.RealTime = 600;
        f.LiveTime = 598.25;
        f.Start = QDateTime(QDate(2024, 3, 14), QTime(9, 26, 53));
        return f;
    }

    QTemporaryDir dir_;
    QString error_, note_;
};

// ---------------------------------------------------------------------------

class InterchangeRoundTrip : public Interchange,
                             public ::testing::WithParamInterface<std::tuple<const char *, int>> {};

TEST_P(InterchangeRoundTrip, EveryCountComesBack)
{
    const auto [ext, channels] = GetParam();
    const SpectrumCounts counts = Pattern(channels);
    Put("src.dat", BinaryOf(counts));
    PutSettings("cal.cfg", CalibratedSettings(15.5, 59.54, 1005.25, 1332.49));
    const QString mid = QStringLiteral("mid") + QLatin1String(ext);
    ASSERT_EQ(Convert("src.dat", mid, "cal.cfg"), 0) << error_.toStdString();
    ASSERT_EQ(Convert(mid, "back.dat", "cal.cfg"), 0) << error_.toStdString();
    EXPECT_TRUE(Get("back.dat") == BinaryOf(counts)) << ext << " " << channels;

    if (QLatin1String(ext) == QLatin1String(".txt")) {
        // The program's own reader takes the written text file.
        ResetCoreState();
        Settings = DefaultSettings();
        Settings.InterfaceKind = 0;
        Settings.InputCount = 1;
        Settings.ChannelCount = channels;
        DataFromMemory = 1;
        ASSERT_TRUE(ReadTextSpectrum(P(mid).toStdString(), 1).Succeeded());
        SpectrumCounts read(static_cast<size_t>(channels), 0);
        ReadChannelRange(0, channels, 1, read.data());
        EXPECT_TRUE(read == counts);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, InterchangeRoundTrip,
                         ::testing::Combine(::testing::Values(".txt", ".spe", ".n42", ".csv", ".bin"),
                                            ::testing::Values(1024, 4096, 16384)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param) + 1) + "_" +
                                    std::to_string(std::get<1>(info.param));
                         });

// ---------------------------------------------------------------------------
// Files written after the formats' descriptions, as other programs make them.

TEST_F(Interchange, HandWrittenSpeIsRead)
{
    SpectrumCounts expect(1024, 0);
    QByteArray spe = "$SPEC_ID:\r\nCs-137 check source\r\n$SPEC_REM:\r\nDET# 1\r\n"
                     "$DATE_MEA:\r\n03/14/2024 09:26:53\r\n$MEAS_TIM:\r\n   598    600\r\n"
                     "$DATA:\r\n0 1023\r\n";
    for (int c = 0; c < 1024; ++c) {
        expect[size_t(c)] = c == 661 ? 15234 : (c * 37) % 101;
        spe += QByteArray::number(expect[size_t(c)]).rightJustified(8) + "\r\n";
    }
    spe += "$ROI:\r\n1\r\n650 672\r\n$PRESETS:\r\nLive Time\r\n600\r\n0\r\n"
           "$ENER_FIT:\r\n0.000000 1.000000\r\n$MCA_CAL:\r\n3\r\n0.0 1.0 0.0 keV\r\n";
    Put("hand.spe", spe);
    ASSERT_EQ(Convert("hand.spe", "out.bin"), 0) << error_.toStdString();
    EXPECT_TRUE(Get("out.bin") == BinaryOf(expect));
}

TEST_F(Interchange, HandWrittenN42WithCountedZeroesIsRead)
{
    const QByteArray n42 = R"(<?xml version="1.0" encoding="UTF-8"?>
<RadInstrumentData xmlns="http://physics.nist.gov/N42/2011/N42" n42DocUUID="6d8f0f34-8e3c-4f6a-9a56-1b2c3d4e5f60">
  <RadInstrumentDataCreatorName>hand</RadInstrumentDataCreatorName>
  <RadInstrumentInformation id="ii"><RadInstrumentManufacturerName>X</RadInstrumentManufacturerName>
    <RadInstrumentModelName>Y</RadInstrumentModelName><RadInstrumentClassCode>Other</RadInstrumentClassCode>
  </RadInstrumentInformation>
  <RadDetectorInformation id="det"><RadDetectorCategoryCode>Gamma</RadDetectorCategoryCode>
    <RadDetectorKindCode>NaI</RadDetectorKindCode></RadDetectorInformation>
  <EnergyCalibration id="ec"><CoefficientValues>-1.5 3.01 0.0001</CoefficientValues></EnergyCalibration>
  <!-- one foreground measurement -->
  <RadMeasurement id="m1">
    <MeasurementClassCode>Foreground</MeasurementClassCode>
    <StartDateTime>2024-03-14T09:26:53Z</StartDateTime>
    <RealTimeDuration>PT600S</RealTimeDuration>
    <Spectrum id="s1" radDetectorInformationReference="det" energyCalibrationReference="ec">
      <LiveTimeDuration>PT598.2S</LiveTimeDuration>
      <ChannelData compressionCode="CountedZeroes">
        0 100 5 7.0E0
        0 921 3
      </ChannelData>
    </Spectrum>
  </RadMeasurement>
</RadInstrumentData>
)";
    Put("hand.n42", n42);
    ASSERT_EQ(Convert("hand.n42", "out.bin"), 0) << error_.toStdString();
    SpectrumCounts expect(1024, 0);
    expect[100] = 5;
    expect[101] = 7;
    expect[1023] = 3;
    EXPECT_TRUE(Get("out.bin") == BinaryOf(expect));
}

// ---------------------------------------------------------------------------
// The calibration written is the line through the settings' two points.

TEST_F(Interchange, CalibrationWrittenPassesThroughTheTwoPoints)
{
    const double c1 = 100.25, e1 = 59.54, c2 = 900.5, e2 = 1332.49;
    PutSettings("cal.cfg", CalibratedSettings(c1, e1, c2, e2));
    Put("src.dat", BinaryOf(Pattern(1024)));
    auto expectThrough = [&](double a, double b, const char *where) {
        EXPECT_NEAR(a + b * c1, e1, 1e-9) << where;
        EXPECT_NEAR(a + b * c2, e2, 1e-9) << where;
    };
    auto numbersAfter = [](const QByteArray &file, const char *pattern) {
        const auto m = QRegularExpression(QLatin1String(pattern)).match(QString::fromUtf8(file));
        return std::pair(m.captured(1).toDouble(), m.captured(2).toDouble());
    };

    ASSERT_EQ(Convert("src.dat", "c.spe", "cal.cfg"), 0) << error_.toStdString();
    auto [a, b] = numbersAfter(Get("c.spe"), R"(\$ENER_FIT:\r\n(\S+) (\S+)\r\n)");
    expectThrough(a, b, "SPE $ENER_FIT:");
    std::tie(a, b) = numbersAfter(Get("c.spe"), R"(\$MCA_CAL:\r\n2\r\n(\S+) (\S+) keV\r\n)");
    expectThrough(a, b, "SPE $MCA_CAL:");

    ASSERT_EQ(Convert("src.dat", "c.n42", "cal.cfg"), 0) << error_.toStdString();
    std::tie(a, b) = numbersAfter(Get("c.n42"), R"(<CoefficientValues>(\S+) (\S+) 0</CoefficientValues>)");
    expectThrough(a, b, "N42 CoefficientValues");

    ASSERT_EQ(Convert("src.dat", "c.csv", "cal.cfg"), 0) << error_.toStdString();
    const QList<QByteArray> rows = Get("c.csv").split('\n');
    ASSERT_EQ(rows.size(), 1026);
    EXPECT_EQ(rows[0], "channel,energy_keV,counts\r");
    for (int c : {0, 100, 900, 1023}) {
        const QList<QByteArray> f = rows[c + 1].trimmed().split(',');
        ASSERT_EQ(f.size(), 3);
        EXPECT_EQ(f[0].toInt(), c);
        EXPECT_NEAR(f[1].toDouble(), e1 + (c - c1) / (c2 - c1) * (e2 - e1), 1e-9) << c;
        EXPECT_EQ(f[2].toInt(), Pattern(1024)[size_t(c)]) << c;
    }

    // Without a settings file (or with points out of order) there is none.
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    ASSERT_EQ(Convert("src.dat", "none.csv"), 0) << error_.toStdString();
    EXPECT_TRUE(Get("none.csv").startsWith("channel,counts\r\n0,0\r\n1,-2147483648\r\n"));
    PutSettings(QLatin1String(SettingsFileName), CalibratedSettings(c1, e1, c2, e2));
    ASSERT_EQ(Convert("src.dat", "default.csv"), 0) << error_.toStdString();
    EXPECT_EQ(Get("default.csv"), Get("c.csv"));
    PutSettings(QLatin1String(SettingsFileName), CalibratedSettings(c2, e1, c1, e2));
    ASSERT_EQ(Convert("src.dat", "reversed.spe"), 0) << error_.toStdString();
    EXPECT_FALSE(Get("reversed.spe").contains("$ENER_FIT:"));
    EXPECT_TRUE(QDir::setCurrent(cwd));
}

// ---------------------------------------------------------------------------
// Times, start and calibration travel from file to file; the input's own
// calibration wins over the settings'; nothing unknown is written.

TEST_F(Interchange, FactsTravelWithTheSpectrumAndNoneIsInvented)
{
    Put("src.dat", BinaryOf(Pattern(1024)));
    PutSettings("cal.cfg", CalibratedSettings(15.5, 59.54, 1005.25, 1332.49));
    PutSettings("other.cfg", CalibratedSettings(10, 100, 20, 300));
    const EnergyCalibration cal = CalibrationFromSettings(CalibratedSettings(15.5, 59.54, 1005.25, 1332.49));
    const QByteArray fit = "$ENER_FIT:\r\n" + ShortestDouble(cal.Offset) + ' ' + ShortestDouble(cal.Gain) + "\r\n";

    ASSERT_EQ(Convert("src.dat", "a.n42", "cal.cfg"), 0) << error_.toStdString();
    EXPECT_EQ(N42Invalid("a.n42"), "");
    ASSERT_EQ(Convert("a.n42", "b.spe", "other.cfg", {}), 0) << error_.toStdString();
    const QByteArray b = Get("b.spe");
    EXPECT_TRUE(b.startsWith("$SPEC_ID:\r\na.n42\r\n$SPEC_REM:\r\nryv_demo ")) << b.left(80).toStdString();
    EXPECT_TRUE(b.contains("\r\n$DATE_MEA:\r\n03/14/2024 09:26:53\r\n$MEAS_TIM:\r\n598.25 600\r\n$DATA:\r\n0 1023\r\n"));
    EXPECT_TRUE(b.contains(fit)) << "the input's calibration, not other.cfg's";
    ASSERT_EQ(Convert("b.spe", "c.n42", "other.cfg", {}), 0) << error_.toStdString();
    const QByteArray c = Get("c.n42");
    EXPECT_EQ(N42Invalid("c.n42"), "");
    EXPECT_TRUE(c.contains("<StartDateTime>2024-03-14T09:26:53")) << c.toStdString();
    EXPECT_TRUE(c.contains("<RealTimeDuration>PT600S</RealTimeDuration>"));
    EXPECT_TRUE(c.contains("<LiveTimeDuration>PT598.25S</LiveTimeDuration>"));
    EXPECT_TRUE(c.contains("<CoefficientValues>" + ShortestDouble(cal.Offset) + ' ' + ShortestDouble(cal.Gain) + " 0<"));
    ASSERT_EQ(Convert("c.n42", "d.dat", {}, {}), 0) << error_.toStdString();
    EXPECT_TRUE(Get("d.dat") == BinaryOf(Pattern(1024)));

    // The program's files state no facts: without the command line's, none
    // is written, and N42, which needs a real time and a start, is refused.
    ASSERT_EQ(Convert("src.dat", "plain.spe", {}, {}), 0) << error_.toStdString();
    const QByteArray plain = Get("plain.spe");
    EXPECT_FALSE(plain.contains("$DATE_MEA:") || plain.contains("$MEAS_TIM:") || plain.contains("$ENER_FIT:"))
        << plain.left(120).toStdString();
    EXPECT_EQ(Convert("src.dat", "plain.n42", {}, {}), 2);
    EXPECT_EQ(error_, P("plain.n42") + ": N42 needs the real time of the measurement, which " + P("src.dat") +
                          " does not state; add --real-time SECONDS");
    SpectrumFacts timed;
    timed.RealTime = 60;
    EXPECT_EQ(Convert("src.dat", "plain.n42", {}, timed), 2);
    EXPECT_TRUE(error_.endsWith(QLatin1String("; add --start YYYY-MM-DDThh:mm:ss"))) << error_.toStdString();
    EXPECT_FALSE(QFile::exists(P("plain.n42")));
    // An N42 without calibration is read as one without calibration.
    ASSERT_EQ(Convert("src.dat", "nocal.n42", {}, Given()), 0) << error_.toStdString();
    EXPECT_EQ(N42Invalid("nocal.n42"), "");
    ASSERT_EQ(Convert("nocal.n42", "nocal.spe", {}, {}), 0) << error_.toStdString();
    EXPECT_FALSE(Get("nocal.spe").contains("$ENER_FIT:"));

    // A CSV's energy column is its calibration; 1001 channels are padded to
    // 1024 for the program's formats, and the note says so.
    QByteArray csv = "# from a script\nEnergy; Data\n";
    for (int ch = 0; ch < 1001; ++ch)
        csv += QByteArray::number(2 + 0.5 * ch).replace('.', ',') + ";" + QByteArray::number(ch % 13) + ",0\n";
    Put("e.csv", csv);
    ASSERT_EQ(Convert("e.csv", "e.spe", "other.cfg", {}), 0) << error_.toStdString();
    EXPECT_TRUE(Get("e.spe").contains("$DATA:\r\n0 1000\r\n"));
    EXPECT_TRUE(Get("e.spe").contains("$ENER_FIT:\r\n2 0.5\r\n$MCA_CAL:\r\n2\r\n2 0.5 keV\r\n"));
    ASSERT_EQ(Convert("e.csv", "e.dat", {}, {}), 0) << error_.toStdString();
    EXPECT_EQ(note_, P("e.csv") + ": 1001 channels padded with zeros to 1024");
    const QByteArray padded = Get("e.dat");
    ASSERT_EQ(padded.size(), 4096);
    EXPECT_EQ(padded.mid(4 * 1000, 4), QByteArray::fromHex("0c000000")) << "1000 % 13 = 12";
    EXPECT_EQ(padded.mid(4 * 1001), QByteArray(4 * 23, '\0'));

    // A .spe that does not start with a keyword line is the window's binary.
    Put("saved.spe", BinaryOf(Pattern(4096)));
    ASSERT_EQ(Convert("saved.spe", "saved.dat", {}, {}), 0) << error_.toStdString();
    EXPECT_TRUE(Get("saved.dat") == BinaryOf(Pattern(4096)));
}

// Files other programs wrote (tests/interchange/samples/README.md): their
// counts and facts come through, and what the converter makes of them is
// valid N42.
TEST_F(Interchange, FilesOfOtherProgramsKeepTheirFacts)
{
    const QString samples = QStringLiteral(RYV_SAMPLES_DIR "/");
    error_.clear();
    ASSERT_EQ(ConvertSpectrumFile(samples + "Alcatraz14_cut.n42", P("al.spe"), {}, {}, error_), 0) << error_.toStdString();
    const QByteArray al = Get("al.spe");
    EXPECT_TRUE(al.contains("$DATE_MEA:\r\n09/17/2012 13:41:07\r\n$MEAS_TIM:\r\n900 905.42\r\n$DATA:\r\n0 63\r\n"))
        << al.left(200).toStdString();
    // A calibration with a square term has no straight-line $ENER_FIT:.
    EXPECT_FALSE(al.contains("$ENER_FIT:"));
    EXPECT_TRUE(al.endsWith("     231\r\n$MCA_CAL:\r\n3\r\n0.578332 0.374436 2.98586e-07 keV\r\n"));
    ASSERT_EQ(Convert("al.spe", "al.n42", {}, {}), 0) << error_.toStdString();
    EXPECT_EQ(N42Invalid("al.n42"), "");
    EXPECT_TRUE(Get("al.n42").contains("<CoefficientValues>0.578332 0.374436 2.98586e-07</CoefficientValues>"));

    ASSERT_EQ(ConvertSpectrumFile(samples + "nai_detector_cut.spe", P("nai.n42"), {}, {}, error_), 0)
        << error_.toStdString();
    EXPECT_EQ(N42Invalid("nai.n42"), "");
    const QByteArray nai = Get("nai.n42");
    EXPECT_TRUE(nai.contains("<StartDateTime>2018-03-26T00:00:00")) << nai.toStdString();
    EXPECT_TRUE(nai.contains("<RealTimeDuration>PT3600S</RealTimeDuration>"));
    EXPECT_TRUE(nai.contains("<LiveTimeDuration>PT3600S</LiveTimeDuration>"));
    EXPECT_TRUE(nai.contains("\n0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 536\n629 663 "));
}

// An N42-2006 file of a background and a foreground spectrum, with an
// extension under a prefix nobody declared: the list names both, the
// foreground one is taken unless another is asked for, and calibrations
// referred to are found wherever they stand.
TEST_F(Interchange, SeveralSpectraOfEitherEditionAreListedAndChosen)
{
    Put("two.n42", R"(<?xml version="1.0"?>
<N42InstrumentData xmlns="http://physics.nist.gov/Standards/N42/2006/N42">
<Measurement UUID="m-1">
  <Spectrum ID="bg" Detector="NaI" CalibrationIDs="en">
    <SourceType>Background</SourceType>
    <StartTime>2009-05-01T10:00:00</StartTime>
    <RealTime>PT60S</RealTime><LiveTime>PT59.5S</LiveTime>
    <ChannelData>1 2 3 4.0000001</ChannelData>
  </Spectrum>
  <Calibration Type="Energy" ID="en"><Equation Model="Polynomial"><Coefficients>0 3</Coefficients></Equation></Calibration>
  <Spectrum ID="fg" Detector="NaI">
    <SourceType>Item</SourceType>
    <StartTime>2009-05-01T10:01:00</StartTime>
    <RealTime>PT1M30S</RealTime><LiveTime>PT88S</LiveTime>
    <Calibration Type="Energy"><Equation><Coefficients>1 2 0</Coefficients></Equation></Calibration>
    <Calibration Type="FWHM"><Equation><Coefficients>7 0.1</Coefficients></Equation></Calibration>
    <ChannelData Compression="CountedZeroes">5 0 3 6</ChannelData>
  </Spectrum>
  <DHS:Extra DHS:kind="portal">x</DHS:Extra>
</Measurement>
</N42InstrumentData>
)");
    QString listing;
    ASSERT_EQ(ListSpectrumFile(P("two.n42"), listing, error_), 0) << error_.toStdString();
    EXPECT_EQ(listing.toStdString(),
              "1\tmeasurement m-1\tspectrum bg\tdetector NaI\tbackground\t4 channels\treal 60 s\tlive 59.5 s\n"
              "2\tmeasurement m-1\tspectrum fg\tdetector NaI\tforeground\t5 channels\treal 90 s\tlive 88 s\n");
    ASSERT_EQ(Convert("two.n42", "fg.spe", {}, {}), 0) << error_.toStdString();
    EXPECT_TRUE(Get("fg.spe").contains("$DATE_MEA:\r\n05/01/2009 10:01:00\r\n$MEAS_TIM:\r\n88 90\r\n$DATA:\r\n0 4\r\n"
                                       "       5\r\n       0\r\n       0\r\n       0\r\n       6\r\n$ENER_FIT:\r\n1 2\r\n"));
    error_.clear();
    ASSERT_EQ(ConvertSpectrumFile(P("two.n42"), P("bg.csv"), {}, {}, error_, nullptr, 1), 0) << error_.toStdString();
    EXPECT_EQ(Get("bg.csv"), "channel,energy_keV,counts\r\n0,0,1\r\n1,3,2\r\n2,6,3\r\n3,9,4\r\n");
    EXPECT_EQ(ConvertSpectrumFile(P("two.n42"), P("x.csv"), {}, {}, error_, nullptr, 3), 2);
    EXPECT_EQ(error_, P("two.n42") + ": no spectrum 3; the file holds 2");
    EXPECT_FALSE(QFile::exists(P("x.csv")));
}

// ---------------------------------------------------------------------------
// Malformed input: exit code 2, one line naming file, place and problem, and
// OUT neither created nor changed, no temporary file left.

struct BadInput {
    const char *name;
    QByteArray content;
    const char *message; // after "<path of name>: "; a trailing '*' matches any rest
};

QByteArray Repeat(const QByteArray &line, int n) { return line.repeated(n); }

TEST_F(Interchange, MalformedInputChangesNothing)
{
    const BadInput cases[] = {
        {"a.spe", "$DATA:\n0 1023\n1\n2\n3\n12x\n", "line 6: count '12x' is not an integer"},
        {"b.spe", "$DATA:\r\n0 65536\r\n", "line 2: channels 0..65536 are 65537; a spectrum has 1 to 65536 channels"},
        {"c.spe", "$DATA:\n0 1023\n2147483648\n", "line 3: count 2147483648 lies outside the signed 32-bit range"},
        {"d.spe", "$DATA:\n0 1023\n1 2 3\n$ENER_FIT:\n0 1\n", "line 3: $DATA: ends after 3 of 1024 counts"},
        {"e.spe", "$SPEC_ID:\nx\n", "no $DATA: section"},
        {"f.spe", "\x7f" "ELF\x02", "5 bytes; a binary spectrum has 4 bytes for each of 1024, 4096 or 16384 channels"},
        {"g.n42", "<RadInstrumentData><RadMeasurement>", "line 1, column 35: not well-formed XML: *"},
        {"h.n42", "<RadInstrumentData>\n<RadMeasurement><MeasurementClassCode>Background</MeasurementClassCode>"
                  "<Spectrum><ChannelData>1</ChannelData></Spectrum></RadMeasurement>\n</RadInstrumentData>",
         "no foreground spectrum among 1; choose one with --spectrum N"},
        {"i.n42", "<RadInstrumentData><RadMeasurement><Spectrum>\n<ChannelData compressionCode=\"CountedZeroes\">5 0"
                  "</ChannelData></Spectrum></RadMeasurement></RadInstrumentData>",
         "line 2, element ChannelData: CountedZeroes ends with a 0 that has no number of zero channels after it"},
        {"j.n42", "<RadInstrumentData><RadMeasurement><Spectrum><ChannelData>1.5</ChannelData>"
                  "</Spectrum></RadMeasurement></RadInstrumentData>",
         "line 1, element ChannelData: count 1.5 is not a whole number"},
        {"k.n42", "<Spectra/>", "line 1, element Spectra: the document is neither RadInstrumentData nor N42InstrumentData"},
        {"k1.n42", "<RadInstrumentData>\n<x" + Repeat(" a=''", 65) + "/>",
         "line 2: an element with more than 64 attributes"},
        {"k2.n42", "<RadInstrumentData>" + Repeat("\n<x>", 64), "line 65: elements nested more than 64 deep"},
        {"k3.n42", "<RadInstrumentData>\n<!--" + QByteArray(5 << 20, 'c') + " -->",
         "line 2: a single text, comment or tag of more than 4194304 bytes"},
        {"l.csv", "# by hand\nname;value\n0;1\n", "line 2: header 'name;value' names no counts column"},
        {"l1.csv", "energy,counts\n1.5,3.25\n", "line 2: count 3.25 is not a whole number"},
        {"m.csv", "channel,counts\n0,5\n2,6\n", "line 3: channel '2' where 1 was expected"},
        {"n.csv", "channel,counts\r\n" + Repeat("0,1\r\n", 2), "line 3: channel '0' where 1 was expected"},
        {"n%2.csv", "channel,counts\n0,1\n%2,1\n", "line 3: channel '%2' where 1 was expected"},
        {"o.txt", "     0             1\r\n     1           abc\r\n",
         "line 2: count field '         abc' is not a valid integer value"},
        {"p.txt", Repeat("     0             1\r\n", 1000), "1000 channel lines; a spectrum has 1024, 4096 or 16384 channels"},
        {"q.dat", QByteArray(4095, '\0'), "4095 bytes; a binary spectrum has 4 bytes for each of 1024, 4096 or 16384 channels"},
        {"r.n42", "<RadInstrumentData><RadMeasurement><Spectrum><ChannelData Compression=\"Zip\">1"
                  "</ChannelData></Spectrum></RadMeasurement></RadInstrumentData>",
         "line 1, element ChannelData: compressionCode 'Zip' is neither None nor CountedZeroes"},
    };
    for (const BadInput &c : cases) {
        for (bool outExists : {false, true}) {
            Put(QLatin1String(c.name), c.content);
            if (outExists)
                Put("out.spe", "old contents\n");
            const QStringList before = Listing();
            EXPECT_EQ(Convert(QLatin1String(c.name), "out.spe"), 2) << c.name;
            const std::string expect = P(QLatin1String(c.name)).toStdString() + ": " + c.message;
            const std::string got = error_.toStdString();
            if (expect.back() == '*')
                EXPECT_EQ(got.substr(0, expect.size() - 1), expect.substr(0, expect.size() - 1)) << c.name;
            else
                EXPECT_EQ(got, expect) << c.name;
            EXPECT_EQ(Listing(), before) << c.name;
            EXPECT_EQ(Get("out.spe"), outExists ? QByteArray("old contents\n") : QByteArray("<missing>")) << c.name;
            QFile::remove(P("out.spe"));
        }
    }

    // A settings file that is not a whole record, an input that is not there
    // and an output that cannot be created.
    Put("src.dat", BinaryOf(Pattern(1024)));
    Put("short%2.cfg", "0123456789");
    EXPECT_EQ(Convert("src.dat", "out.spe", "short%2.cfg"), 2);
    EXPECT_EQ(error_, P("short%2.cfg") + ": settings file holds 10 bytes; a settings record has 152");
    EXPECT_EQ(Convert("none.spe", "out.spe"), 2);
    EXPECT_TRUE(error_.startsWith(P("none.spe") + ": cannot be opened: ")) << error_.toStdString();
    // Too large an input, its size taken before a byte is read (a sparse
    // file); a "%2" in its name stays as it is.
    Put("big%2.spe", "");
    ASSERT_EQ(::truncate(QFile::encodeName(P("big%2.spe")).constData(), MaxInterchangeFileBytes + 1), 0);
    EXPECT_EQ(Convert("big%2.spe", "out.spe"), 2);
    EXPECT_EQ(error_, P("big%2.spe") + ": 67108865 bytes; a spectrum file this converter reads has at most 67108864");
    EXPECT_EQ(Convert("src.dat", "no/such/out.spe"), 2);
    EXPECT_TRUE(error_.startsWith(P("no/such/out.spe") + ": cannot be created: ")) << error_.toStdString();
    EXPECT_FALSE(QFile::exists(P("out.spe")));

    // A write-protected output stays as it is, even for root.
    Put("locked.spe", "kept\n");
    QFile::setPermissions(P("locked.spe"), QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    EXPECT_EQ(Convert("src.dat", "locked.spe"), 2);
    EXPECT_EQ(error_, P("locked.spe") + ": cannot be written: the file is write-protected");
    EXPECT_EQ(Get("locked.spe"), QByteArray("kept\n"));
}

// Files that are not regular files are refused at once, a full disk leaves
// the old output as it was, and names are the bytes the file system holds.
TEST_F(Interchange, FifosFullDisksAndNamesThatAreNotUtf8)
{
    Put("src.dat", BinaryOf(Pattern(1024)));
    ASSERT_EQ(::mkfifo(QFile::encodeName(P("f.txt")).constData(), 0644), 0);
    EXPECT_EQ(Convert("f.txt", "out.spe"), 2);
    EXPECT_EQ(error_, P("f.txt") + ": cannot be opened: not a regular file");
    EXPECT_EQ(Convert("src.dat", "out.spe", "f.txt"), 2);
    EXPECT_EQ(error_, P("f.txt") + ": settings file cannot be opened: not a regular file");
    EXPECT_FALSE(QFile::exists(P("out.spe")));

    // 0xFF and 0xFE are no UTF-8: the files are found and made by their bytes.
    const QByteArray dir = QFile::encodeName(dir_.path());
    const QByteArray in = dir + "/in\xFF.dat", out = dir + "/out\xFE.csv";
    ASSERT_EQ(::rename(QFile::encodeName(P("src.dat")).constData(), in.constData()), 0);
    EXPECT_EQ(ConvertSpectrumFile(PathFromBytes(in), PathFromBytes(out), {}, error_), 0) << error_.toStdString();
    EXPECT_EQ(::access(out.constData(), F_OK), 0);
    EXPECT_EQ(PathBytes(PathFromBytes("a\xC3\xA9\xFF\xC3\xF0\x9F\x98\x80z")), QByteArray("a\xC3\xA9\xFF\xC3\xF0\x9F\x98\x80z"));

    // A full disk: a 16 KiB file system already holding the old output.
    const QString small = P("small");
    ASSERT_TRUE(QDir().mkdir(small));
    if (::getuid() != 0 || ::system(("mount -t tmpfs -o size=16k tmpfs '" + small.toStdString() + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "a full disk needs root and a tmpfs mount";
    const QByteArray old = "old contents\n";
    Put("small/out.spe", old);
    Put("small/filler", QByteArray(8192, 'x'));
    ASSERT_EQ(::rename(in.constData(), QFile::encodeName(P("src.dat")).constData()), 0);
    const int rc = Convert("src.dat", "small/out.spe");
    const QByteArray kept = Get("small/out.spe");
    const QStringList left = QDir(small).entryList(QDir::Files);
    ::system(("umount '" + small.toStdString() + "'").c_str());
    EXPECT_EQ(rc, 2);
    EXPECT_EQ(error_, P("small/out.spe") + ": cannot be written: No space left on device");
    EXPECT_EQ(kept, old);
    EXPECT_EQ(left, QStringList({"filler", "out.spe"})) << "no temporary file left";
}

// A 64 MiB input needs no more than three times its size plus 50 MiB.
TEST_F(Interchange, LargeInputsReadInLittleMoreMemoryThanTheirSize)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer's shadow memory and quarantine are no measure of the reader's";
#endif
    constexpr qsizetype size = 64 << 20;
    const struct {
        const char *name;
        QByteArray head;
        int rc; // a CSV of one row is a spectrum
    } inputs[] = {{"big.spe", "$DATA:\n0 1023\n", 2}, {"big.csv", "channel,counts\n0,1\n", 0}};
    for (const auto &input : inputs) {
        Put(QLatin1String(input.name), input.head + QByteArray(size - input.head.size(), '\n'));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            QString error;
            ::_exit(ConvertSpectrumFile(P(QLatin1String(input.name)), P("out.dat"), {}, error) == input.rc ? 0 : 1);
        }
        int status = 0;
        struct rusage usage {};
        ASSERT_EQ(::wait4(child, &status, 0, &usage), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << input.name;
        EXPECT_LT(usage.ru_maxrss, (3 * size + (50 << 20)) / 1024) << input.name << ": peak KiB";
        QFile::remove(P(QLatin1String(input.name)));
    }
}

// Text spectra written by Linux tools end their lines in LF alone.
TEST_F(Interchange, TextLinesEndInLfCrLfOrCr)
{
    QByteArray text;
    for (int c = 0; c < 1024; ++c)
        text += QByteArray::number(c).rightJustified(6, ' ') + "  " + QByteArray::number(c * 3).rightJustified(12, ' ') +
                (c % 3 == 0 ? "\n" : c % 3 == 1 ? "\r\n" : "\r");
    Put("lf.txt", text);
    ASSERT_EQ(Convert("lf.txt", "lf.dat"), 0) << error_.toStdString();
    SpectrumCounts expect(1024);
    for (int c = 0; c < 1024; ++c)
        expect[static_cast<size_t>(c)] = c * 3;
    EXPECT_TRUE(Get("lf.dat") == BinaryOf(expect));
}

int FailingClose(int fd)
{
    ::close(fd);
    errno = EIO;
    return -1;
}

// A close that fails leaves the old output as it was; a name as long as the
// file system allows is written; a replaced output keeps its owner and mode.
TEST_F(Interchange, ReplacedOutputKeepsOwnerAndModeOrStaysAsItWas)
{
    Put("src.dat", BinaryOf(Pattern(1024)));
    Put("out.dat", "old contents\n");
    SetSpectrumFileCloseHook(FailingClose);
    const int rc = Convert("src.dat", "out.dat");
    SetSpectrumFileCloseHook(nullptr);
    EXPECT_EQ(rc, 2);
    EXPECT_EQ(error_, P("out.dat") + ": cannot be written: Input/output error");
    EXPECT_EQ(Get("out.dat"), QByteArray("old contents\n"));
    EXPECT_EQ(Listing(), QStringList({"out.dat", "src.dat"}));

    const QString longest = QString(NAME_MAX - 4, QLatin1Char('n')) + QStringLiteral(".dat");
    EXPECT_EQ(Convert("src.dat", longest), 0) << error_.toStdString();
    EXPECT_TRUE(Get(longest) == BinaryOf(Pattern(1024)));

    if (::getuid() != 0)
        GTEST_SKIP() << "giving a file to another user needs root";
    const QByteArray out = QFile::encodeName(P("out.dat"));
    ASSERT_EQ(::chown(out.constData(), 1234, 5678), 0);
    ASSERT_EQ(::chmod(out.constData(), 0640), 0);
    ASSERT_EQ(Convert("src.dat", "out.dat"), 0) << error_.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(out.constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_TRUE(Get("out.dat") == BinaryOf(Pattern(1024)));
}

} // namespace
