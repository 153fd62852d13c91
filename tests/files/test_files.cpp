// Tests of the spectrum files: format selection, the text and binary
// writers and readers, and what each failure reports.

#include "files/SpektrFiles.h"
#include "core/Uryv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Count pattern: varied signs and magnitudes, with fixed special values.
int32_t Pattern(int32_t c, uint32_t salt = 0)
{
    switch (c) {
    case 3: return -1; // 4294967295 as 32 bits
    case 4: return INT32_MIN;
    case 5: return INT32_MAX;
    case 6: return 0;
    default: break;
    }
    uint32_t x = static_cast<uint32_t>(c) * 2654435761u + salt;
    x ^= x >> 13;
    x *= 0x5bd1e995u;
    x ^= x >> 15;
    return static_cast<int32_t>(x);
}

int32_t OldCount(int32_t c) { return 700000 + c; }

std::string PadLeft(const std::string &s, size_t width)
{
    return std::string(width > s.size() ? width - s.size() : 0, ' ') + s;
}

// One text line built here independently of the writer.
std::string Line(int32_t c, int32_t v)
{
    return PadLeft(std::to_string(c), 6) + "  " + PadLeft(std::to_string(v), 12) + "\r\n";
}

std::string Lines(int32_t n, const std::function<std::string(int32_t)> &line)
{
    std::string s;
    for (int32_t c = 0; c < n; ++c)
        s += line(c);
    return s;
}

class SpectrumFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        Settings = DefaultSettings();
        DataFromMemory = 1;
        char tmpl[] = "/tmp/ryv_files_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }

    void TearDown() override
    {
        SetSpectrumFileCloseHook(nullptr);
        SetSpectrumFileSyncHook(nullptr);
        EXPECT_EQ(OutOfRangeChannelAccesses, 0u);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::string Path(const std::string &name) const { return dir_ + "/" + name; }

    static void SetChannelCount(int32_t n)
    {
        Settings.ChannelCount = n;
        Settings.ViewFirst = 0;
        Settings.ViewWidth = static_cast<uint16_t>(n);
    }

    static void Fill(int32_t input, const std::function<int32_t(int32_t)> &value)
    {
        for (int32_t c = 0; c < Settings.ChannelCount; ++c)
            WriteChannel(c, input, value(c));
    }

    // First channel whose count differs from value(c), or -1.
    static int32_t FirstMismatch(int32_t input, const std::function<int32_t(int32_t)> &value,
                                 int32_t from = 0, int32_t to = -1)
    {
        if (to < 0)
            to = Settings.ChannelCount;
        for (int32_t c = from; c < to; ++c)
            if (ReadChannel(c, input) != value(c))
                return c;
        return -1;
    }

    static std::string FileBytes(const std::string &path)
    {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }

    static void WriteFile(const std::string &path, const std::string &bytes)
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(f.good());
    }

    // Writes bytes as the file `name`, fills input 1 with OldCount and reads
    // the file into it.
    SpectrumFileResult ReadFresh(const std::string &name, const std::string &bytes) const
    {
        WriteFile(Path(name), bytes);
        Fill(1, OldCount);
        return ReadSpectrum(Path(name), 1);
    }

    static std::string Le32(int32_t v)
    {
        const auto u = static_cast<uint32_t>(v);
        return {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
                static_cast<char>(u >> 24)};
    }

    std::string dir_;
};

// ---------------------------------------------------------------------------
// Format selection

TEST(SpectrumFilePath, OnlyExactLowerCaseTxtSelectsText)
{
    EXPECT_TRUE(IsTextSpectrumPath("Spektr.txt"));
    EXPECT_TRUE(IsTextSpectrumPath("/home/op/spectra/Spektr.txt"));
    EXPECT_TRUE(IsTextSpectrumPath("a.bak.txt"));
    EXPECT_TRUE(IsTextSpectrumPath(".txt"));
    EXPECT_TRUE(IsTextSpectrumPath("c:a.txt"));
    EXPECT_TRUE(IsTextSpectrumPath("/dir.spe/a.txt"));

    EXPECT_FALSE(IsTextSpectrumPath("Spektr.TXT"));
    EXPECT_FALSE(IsTextSpectrumPath("Spektr.Txt"));
    EXPECT_FALSE(IsTextSpectrumPath("Spektr.tXt"));
    EXPECT_FALSE(IsTextSpectrumPath("Spektr"));
    EXPECT_FALSE(IsTextSpectrumPath("Spektr.spe"));
    EXPECT_FALSE(IsTextSpectrumPath("Spektr.txt.bak"));
    EXPECT_FALSE(IsTextSpectrumPath("Spektr.txt "));
    EXPECT_FALSE(IsTextSpectrumPath("Spektr.text"));
    EXPECT_FALSE(IsTextSpectrumPath("Spektr."));
    EXPECT_FALSE(IsTextSpectrumPath("txt"));
    EXPECT_FALSE(IsTextSpectrumPath(""));
    // A dot before the last separator is not an extension.
    EXPECT_FALSE(IsTextSpectrumPath("/data.txt/Spektr"));
    EXPECT_FALSE(IsTextSpectrumPath("data.txt\\Spektr"));
    EXPECT_FALSE(IsTextSpectrumPath("a.txt:stream"));
}

TEST(SpectrumFileResultTexts, BoxTextsAndCaptions)
{
    EXPECT_STREQ(OpenErrorText, "Ошибка открытия файла");
    EXPECT_STREQ(WriteErrorText, "Ошибка записи файла");
    EXPECT_STREQ(ReadErrorText, "Ошибка чтения файла");
    EXPECT_STREQ(SaveFailedCaption, "  Спектр не сохранен !!!");
    EXPECT_STREQ(ReadFailedCaption, "  Спектр не прочитан !!!");

    SpectrumFileResult r;
    EXPECT_TRUE(r.Succeeded());
    EXPECT_STREQ(r.BoxText(), "");
    r.box = SpectrumFileBox::WriteError;
    EXPECT_FALSE(r.Succeeded());
    EXPECT_STREQ(r.BoxText(), "Ошибка записи файла");
    EXPECT_STREQ(r.BoxCaption(), "  Спектр не сохранен !!!");
    r.op = SpectrumFileOp::Read;
    r.box = SpectrumFileBox::ReadError;
    EXPECT_STREQ(r.BoxText(), "Ошибка чтения файла");
    EXPECT_STREQ(r.BoxCaption(), "  Спектр не прочитан !!!");
    r.box = SpectrumFileBox::OpenError;
    EXPECT_STREQ(r.BoxText(), "Ошибка открытия файла");
    r.box = SpectrumFileBox::None;
    r.generalError = "x";
    EXPECT_FALSE(r.Succeeded());
}

// ---------------------------------------------------------------------------
// Round trips in both formats and every channel count

class RoundTrip : public SpectrumFilesTest,
                  public ::testing::WithParamInterface<std::tuple<int32_t, bool>> {};

TEST_P(RoundTrip, EveryChannelComesBackWithTheSameBits)
{
    const auto [channels, text] = GetParam();
    SetChannelCount(channels);
    const int32_t input = 1;
    const std::string path = Path(text ? "Spektr.txt" : "Spektr.spe");
    Fill(input, [](int32_t c) { return Pattern(c); });

    const SpectrumFileResult saved = SaveSpectrum(path, input);
    EXPECT_TRUE(saved.Succeeded()) << saved.BoxText() << saved.generalError;
    EXPECT_EQ(saved.op, SpectrumFileOp::Save);

    const std::string bytes = FileBytes(path);
    if (text) {
        ASSERT_EQ(bytes.size(), size_t(22) * size_t(channels));
        EXPECT_EQ(bytes.substr(3 * 22, 22), "     3            -1\r\n");
        EXPECT_EQ(bytes.substr(4 * 22, 22), "     4   -2147483648\r\n");
        EXPECT_EQ(bytes.substr(5 * 22, 22), "     5    2147483647\r\n");
        EXPECT_EQ(bytes.substr(6 * 22, 22), "     6             0\r\n");
        const int32_t last = channels - 1;
        EXPECT_EQ(bytes.substr(size_t(last) * 22), Line(last, Pattern(last)));
    } else {
        ASSERT_EQ(bytes.size(), size_t(4) * size_t(channels));
        EXPECT_EQ(bytes.substr(12, 4), std::string("\xFF\xFF\xFF\xFF", 4));
        EXPECT_EQ(bytes.substr(16, 4), std::string("\x00\x00\x00\x80", 4));
        EXPECT_EQ(bytes.substr(20, 4), std::string("\xFF\xFF\xFF\x7F", 4));
        EXPECT_EQ(bytes.substr(0, 4), Le32(Pattern(0)));
        EXPECT_EQ(bytes.substr(size_t(channels - 1) * 4), Le32(Pattern(channels - 1)));
    }

    Fill(input, OldCount);
    const SpectrumFileResult read = ReadSpectrum(path, input);
    EXPECT_TRUE(read.Succeeded()) << read.BoxText() << read.generalError;
    EXPECT_EQ(read.op, SpectrumFileOp::Read);
    EXPECT_EQ(FirstMismatch(input, [](int32_t c) { return Pattern(c); }), -1);
    EXPECT_EQ(static_cast<uint32_t>(ReadChannel(3, input)), 4294967295u);
}

INSTANTIATE_TEST_SUITE_P(AllChannelCounts, RoundTrip,
                         ::testing::Combine(::testing::Values(1024, 4096, 16384),
                                            ::testing::Bool()),
                         [](const auto &info) {
                             return std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "Text" : "Binary");
                         });

TEST_F(SpectrumFilesTest, ReadingIntoOneInputLeavesTheOthersAlone)
{
    // Default layout: 3 inputs, 1024 channels, ISA; no overlaps.
    Fill(1, [](int32_t c) { return Pattern(c, 11); });
    Fill(2, [](int32_t c) { return Pattern(c, 22); });
    Fill(3, [](int32_t c) { return Pattern(c, 33); });
    for (const char *name : {"in2.txt", "in2.spe"}) {
        ASSERT_TRUE(SaveSpectrum(Path(name), 2).Succeeded());
        Fill(2, OldCount);
        ASSERT_TRUE(ReadSpectrum(Path(name), 2).Succeeded());
        EXPECT_EQ(FirstMismatch(2, [](int32_t c) { return Pattern(c, 22); }), -1) << name;
        EXPECT_EQ(FirstMismatch(1, [](int32_t c) { return Pattern(c, 11); }), -1) << name;
        EXPECT_EQ(FirstMismatch(3, [](int32_t c) { return Pattern(c, 33); }), -1) << name;
    }
}

TEST_F(SpectrumFilesTest, SavingTakesWhatReadChannelServesDuringPrinting)
{
    Fill(1, OldCount);
    PrintSnapshot.resize(1024);
    for (int32_t c = 0; c < 1024; ++c)
        PrintSnapshot[size_t(c)] = Pattern(c);
    DataFromMemory = 0;
    ASSERT_TRUE(SaveSpectrum(Path("snap.spe"), 1).Succeeded());
    DataFromMemory = 1;
    const std::string bytes = FileBytes(Path("snap.spe"));
    ASSERT_EQ(bytes.size(), 4096u);
    EXPECT_EQ(bytes.substr(100 * 4, 4), Le32(Pattern(100)));
    EXPECT_EQ(bytes.substr(12, 4), std::string("\xFF\xFF\xFF\xFF", 4));
}

// ---------------------------------------------------------------------------
// Text writer

TEST_F(SpectrumFilesTest, TextFileHasFixedColumnsAndCrLf)
{
    Fill(1, [](int32_t c) { return c == 5 ? 1234 : -c * 1000; });
    ASSERT_TRUE(SaveSpectrum(Path("Spektr.txt"), 1).Succeeded());
    const std::string bytes = FileBytes(Path("Spektr.txt"));
    ASSERT_EQ(bytes.size(), 22u * 1024u);
    EXPECT_EQ(bytes.substr(5 * 22, 22), std::string(5, ' ') + "5" + std::string(10, ' ') + "1234\r\n");
    EXPECT_EQ(bytes.substr(0, 22), "     0             0\r\n");
    EXPECT_EQ(bytes.substr(1023 * 22), "  1023      -1023000\r\n");
    for (size_t line = 0; line < 1024; ++line) {
        const std::string l = bytes.substr(line * 22, 22);
        ASSERT_EQ(l.substr(6, 2), "  ") << line;
        ASSERT_EQ(l.substr(20), "\r\n") << line;
        ASSERT_EQ(l.find_first_not_of(" -0123456789"), 20u) << line;
    }
}

TEST_F(SpectrumFilesTest, SaveTruncatesALongerFile)
{
    WriteFile(Path("old.txt"), std::string(100000, 'z'));
    WriteFile(Path("old.spe"), std::string(100000, 'z'));
    Fill(1, [](int32_t c) { return Pattern(c); });
    ASSERT_TRUE(SaveSpectrum(Path("old.txt"), 1).Succeeded());
    ASSERT_TRUE(SaveSpectrum(Path("old.spe"), 1).Succeeded());
    EXPECT_EQ(FileBytes(Path("old.txt")).size(), 22u * 1024u);
    EXPECT_EQ(FileBytes(Path("old.spe")).size(), 4u * 1024u);
}

TEST_F(SpectrumFilesTest, OtherCaseOrNoExtensionIsWrittenAndReadAsBinary)
{
    SetChannelCount(4096);
    Fill(1, [](int32_t c) { return Pattern(c); });
    for (const char *name : {"Spektr.TXT", "Spektr.Txt", "Spektr"}) {
        ASSERT_TRUE(SaveSpectrum(Path(name), 1).Succeeded()) << name;
        const std::string bytes = FileBytes(Path(name));
        ASSERT_EQ(bytes.size(), 4u * 4096u) << name;
        EXPECT_EQ(bytes.substr(12, 4), std::string("\xFF\xFF\xFF\xFF", 4)) << name;
        EXPECT_EQ(bytes.substr(4095 * 4), Le32(Pattern(4095))) << name;

        Fill(1, OldCount);
        EXPECT_TRUE(ReadSpectrum(Path(name), 1).Succeeded()) << name;
        EXPECT_EQ(FirstMismatch(1, [](int32_t c) { return Pattern(c); }), -1) << name;
    }
    // A text file under an upper-case name is taken as binary records.
    EXPECT_TRUE(ReadFresh("Lines.TXT", Lines(1024, [](int32_t c) { return Line(c, 7); })).Succeeded());
    EXPECT_EQ(ReadChannel(0, 1), 0x20202020); // "    "
}

// ---------------------------------------------------------------------------
// Text reader

TEST_F(SpectrumFilesTest, ShorterTextFileEndsWithEmptyFieldError)
{
    Fill(1, [](int32_t c) { return Pattern(c); });
    ASSERT_TRUE(SaveSpectrum(Path("k1.txt"), 1).Succeeded());

    SetChannelCount(4096);
    Fill(1, OldCount);
    const SpectrumFileResult r = ReadSpectrum(Path("k1.txt"), 1);
    EXPECT_EQ(r.box, SpectrumFileBox::None);
    EXPECT_EQ(r.generalError, "'' is not a valid integer value");
    EXPECT_EQ(FirstMismatch(1, [](int32_t c) { return Pattern(c); }, 0, 1024), -1);
    EXPECT_EQ(FirstMismatch(1, OldCount, 1024, 4096), -1);
}

TEST_F(SpectrumFilesTest, LongerTextFileSurplusIgnored)
{
    SetChannelCount(4096);
    Fill(1, [](int32_t c) { return Pattern(c); });
    ASSERT_TRUE(SaveSpectrum(Path("k4.txt"), 1).Succeeded());

    SetChannelCount(1024);
    Fill(1, OldCount);
    const SpectrumFileResult r = ReadSpectrum(Path("k4.txt"), 1);
    EXPECT_TRUE(r.Succeeded()) << r.generalError;
    EXPECT_EQ(FirstMismatch(1, [](int32_t c) { return Pattern(c); }), -1);
}

TEST_F(SpectrumFilesTest, FieldsAreTakenByPosition)
{
    // Short lines (count from column 9), long lines (rest skipped), CR-only
    // line ends, a count from column 8 (its first digit goes to the
    // separator) and channel-number fields that say something else.
    const std::string text = Lines(1024, [](int32_t c) -> std::string {
        switch (c) {
        case 0: return "     0  1234\r\n";
        case 1: return "     1          5678 trailing junk 99\r\n";
        case 2: return "     2          -42\r";
        case 3: return "     3 98765\r\n";
        case 4: return "garbag          4444\r\n";
        case 5: return "        77\r\n";
        default: return Line(c, c * 3);
        }
    });
    WriteFile(Path("pos.txt"), text);
    Fill(1, OldCount);

    const SpectrumFileResult r = ReadSpectrum(Path("pos.txt"), 1);
    EXPECT_TRUE(r.Succeeded()) << r.generalError;
    EXPECT_EQ(ReadChannel(0, 1), 1234);
    EXPECT_EQ(ReadChannel(1, 1), 5678);
    EXPECT_EQ(ReadChannel(2, 1), -42);
    EXPECT_EQ(ReadChannel(3, 1), 8765);
    EXPECT_EQ(ReadChannel(4, 1), 4444);
    EXPECT_EQ(ReadChannel(5, 1), 77);
    EXPECT_EQ(FirstMismatch(1, [](int32_t c) { return c * 3; }, 6), -1);
}

TEST_F(SpectrumFilesTest, LastLineNeedsNoLineEnd)
{
    std::string text = Lines(1024, [](int32_t c) { return Line(c, -c); });
    text.resize(text.size() - 2);
    EXPECT_TRUE(ReadFresh("noend.txt", text).Succeeded());
    EXPECT_EQ(FirstMismatch(1, [](int32_t c) { return -c; }), -1);
}

TEST_F(SpectrumFilesTest, EmptyLineIsAConversionError)
{
    const SpectrumFileResult r = ReadFresh("e.txt", Line(0, 10) + "\r\n" + Line(2, 30));
    EXPECT_EQ(r.generalError, "'' is not a valid integer value");
    EXPECT_EQ(r.box, SpectrumFileBox::None);
    EXPECT_EQ(ReadChannel(0, 1), 10);
    EXPECT_EQ(FirstMismatch(1, OldCount, 1), -1);
}

TEST_F(SpectrumFilesTest, LeftAlignedCountIsAConversionError)
{
    const SpectrumFileResult r = ReadFresh("left.txt", Line(0, 1111) + "     1  1234        \r\n" + Line(2, 3333));
    EXPECT_EQ(r.box, SpectrumFileBox::None);
    EXPECT_EQ(r.generalError, "'1234        ' is not a valid integer value");
    EXPECT_EQ(ReadChannel(0, 1), 1111);
    EXPECT_EQ(FirstMismatch(1, OldCount, 1), -1);
}

TEST_F(SpectrumFilesTest, LfAloneAndCrAloneEndALineLikeCrLf)
{
    // lines ending in turn in LF, CR and CR LF
    std::string text;
    for (int32_t c = 0; c < 1024; ++c)
        text += Line(c, 100 + c).substr(0, c % 3 == 0 ? 20 : 21) + (c % 3 == 0 ? "\n" : c % 3 == 1 ? "" : "\n");
    const SpectrumFileResult r = ReadFresh("lf.txt", text);
    EXPECT_TRUE(r.Succeeded()) << r.BoxText() << r.generalError;
    EXPECT_EQ(FirstMismatch(1, [](int32_t c) { return 100 + c; }), -1);
}

TEST_F(SpectrumFilesTest, CtrlZEndsTheReadableText)
{
    std::string text = Lines(1024, [](int32_t c) { return Line(c, 100 + c); });
    text.insert(10 * 22, "\x1A");
    SpectrumFileResult r = ReadFresh("z.txt", text);
    EXPECT_EQ(r.generalError, "'' is not a valid integer value");
    EXPECT_EQ(FirstMismatch(1, [](int32_t c) { return 100 + c; }, 0, 10), -1);
    EXPECT_EQ(FirstMismatch(1, OldCount, 10), -1);

    // Inside a count field: the digits before it still make the count.
    text = Line(0, 5) + "     1        12\x1A" "34\r\n" + Line(2, 7);
    r = ReadFresh("z2.txt", text);
    EXPECT_EQ(r.generalError, "'' is not a valid integer value");
    EXPECT_EQ(ReadChannel(0, 1), 5);
    EXPECT_EQ(ReadChannel(1, 1), 12);
    EXPECT_EQ(FirstMismatch(1, OldCount, 2), -1);
}

TEST_F(SpectrumFilesTest, HexadecimalAndOutOfRangeCountsInAFile)
{
    const std::vector<std::string> counts = {"$FF", "xFF", "XfF", "0xff", "0XFFFFFFFF",
                                             "$80000000", "-2147483648", "+17", "$0"};
    const std::vector<int32_t> values = {255, 255, 255, 255, -1, INT32_MIN, INT32_MIN, 17, 0};
    auto lineOf = [&](int32_t c) {
        return size_t(c) < counts.size() ? "     " + std::to_string(c) + "  " + PadLeft(counts[size_t(c)], 12) + "\r\n"
                                         : Line(c, c);
    };
    SpectrumFileResult r = ReadFresh("hex.txt", Lines(1024, lineOf));
    EXPECT_TRUE(r.Succeeded()) << r.generalError;
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(ReadChannel(int32_t(i), 1), values[i]) << counts[i];

    struct Bad {
        std::string field, message;
    };
    for (const Bad &bad : {Bad{"  $100000000", "'  $100000000' is not a valid integer value"},
                           Bad{"  2147483648", "'  2147483648' is not a valid integer value"},
                           Bad{" -2147483649", "' -2147483649' is not a valid integer value"},
                           Bad{"        -$FF", "'        -$FF' is not a valid integer value"},
                           Bad{"        12ab", "'        12ab' is not a valid integer value"},
                           Bad{"            ", "'            ' is not a valid integer value"}}) {
        WriteFile(Path("bad.txt"), Line(0, 9) + Line(1, 8) + "     2  " + bad.field + "\r\n" + Line(3, 6));
        Fill(1, OldCount);
        r = ReadSpectrum(Path("bad.txt"), 1);
        EXPECT_EQ(r.box, SpectrumFileBox::None) << bad.field;
        EXPECT_EQ(r.generalError, bad.message);
        EXPECT_EQ(ReadChannel(0, 1), 9);
        EXPECT_EQ(ReadChannel(1, 1), 8);
        EXPECT_EQ(FirstMismatch(1, OldCount, 2), -1) << bad.field;
    }
}

TEST(CountFieldConversion, AcceptedForms)
{
    struct Case {
        const char *text;
        int32_t value;
    };
    for (const Case &k : {Case{"0", 0}, Case{"-0", 0}, Case{"+5", 5}, Case{"   42", 42},
                          Case{"0005", 5}, Case{"2147483647", INT32_MAX},
                          Case{"-2147483648", INT32_MIN}, Case{"$FF", 255}, Case{"$ff", 255},
                          Case{"xFF", 255}, Case{"X10", 16}, Case{"0x10", 16}, Case{"0X1f", 31},
                          Case{"$FFFFFFFF", -1}, Case{"0xFFFFFFFE", -2},
                          Case{"$7FFFFFFF", INT32_MAX}, Case{"$80000000", INT32_MIN},
                          Case{"$0000000000FF", 255}, Case{"  0x0", 0}}) {
        int32_t v = 99;
        EXPECT_TRUE(ConvertCountField(k.text, v)) << k.text;
        EXPECT_EQ(v, k.value) << k.text;
    }
}

TEST(CountFieldConversion, RejectedForms)
{
    for (const char *text : {"", "   ", "+", "-", "$", "x", "0x", "0X", "12 ", " 1 2", "\t5",
                             "5\n", "2147483648", "-2147483649", "99999999999", "$100000000",
                             "0x1FFFFFFFF", "-$FF", "+$FF", "-0x1", "$FG", "12a", "1.0", "1e3",
                             "00x1", "$ FF", "x-1", "++1", "--1"}) {
        int32_t v = 99;
        EXPECT_FALSE(ConvertCountField(text, v)) << '"' << text << '"';
        EXPECT_EQ(v, 99) << text;
    }
}

// Whether a text goes on after the lines wanted (the converter refuses a
// text of more lines than a spectrum has): an LF after the last line's CR
// and Ctrl-Z do not start another line, anything else does.
TEST(TextSpectrumDecoder, TellsWhetherMoreLinesFollow)
{
    const std::string two = Line(0, 5) + Line(1, -6);
    for (const auto &[tail, more] : std::vector<std::pair<std::string, bool>>{
             {"", false}, {"\x1a     2  ", false}, {"\n", true}, {" ", true}}) {
        TextSpectrumDecoder d(2);
        const std::string text = two + tail;
        d.Feed({reinterpret_cast<const uint8_t *>(text.data()), text.size()});
        d.Finish();
        EXPECT_EQ(d.Counts(), (std::vector<int32_t>{5, -6})) << tail;
        EXPECT_EQ(d.MoreLines(), more) << '"' << tail << '"';
    }
    TextSpectrumDecoder cr(1);
    const std::string text = "     0           7\r\n";
    cr.Feed({reinterpret_cast<const uint8_t *>(text.data()), text.size()});
    EXPECT_FALSE(cr.MoreLines());
}

TEST_F(SpectrumFilesTest, ReadOnlyFilesAreReadAndLeftAsTheyWere)
{
    for (const char *name : {"ro.txt", "ro.spe"}) {
        Fill(1, [](int32_t c) { return Pattern(c); });
        ASSERT_TRUE(SaveSpectrum(Path(name), 1).Succeeded());
        const std::string before = FileBytes(Path(name));
        ASSERT_EQ(chmod(Path(name).c_str(), 0444), 0);
        Fill(1, OldCount);
        const SpectrumFileResult r = ReadSpectrum(Path(name), 1);
        EXPECT_TRUE(r.Succeeded()) << name << ' ' << r.BoxText() << r.generalError;
        EXPECT_EQ(FirstMismatch(1, [](int32_t c) { return Pattern(c); }), -1) << name;
        EXPECT_EQ(FileBytes(Path(name)), before);
    }
}

// ---------------------------------------------------------------------------
// Binary reader

TEST_F(SpectrumFilesTest, ShortBinaryFileKeepsOldCountsAndReportsOnce)
{
    std::string bytes;
    for (int32_t c = 0; c < 10; ++c)
        bytes += Le32(Pattern(c));
    bytes += "\xAB\xCD"; // half a record for channel 10
    WriteFile(Path("short.spe"), bytes);
    Fill(1, OldCount);

    const SpectrumFileResult r = ReadSpectrum(Path("short.spe"), 1);
    EXPECT_EQ(r.box, SpectrumFileBox::ReadError);
    EXPECT_STREQ(r.BoxText(), "Ошибка чтения файла");
    EXPECT_STREQ(r.BoxCaption(), "  Спектр не прочитан !!!");
    EXPECT_EQ(r.generalError, "");
    EXPECT_EQ(FirstMismatch(1, [](int32_t c) { return Pattern(c); }, 0, 10), -1);
    EXPECT_EQ(FirstMismatch(1, OldCount, 10), -1);

    WriteFile(Path("empty.spe"), "");
    const SpectrumFileResult e = ReadSpectrum(Path("empty.spe"), 1);
    EXPECT_EQ(e.box, SpectrumFileBox::ReadError);
    EXPECT_EQ(FirstMismatch(1, OldCount, 10), -1);
}

TEST_F(SpectrumFilesTest, LongerBinaryFileSurplusIgnored)
{
    std::string bytes;
    for (int32_t c = 0; c < 2000; ++c)
        bytes += Le32(-c);
    EXPECT_TRUE(ReadFresh("long.spe", bytes).Succeeded());
    EXPECT_EQ(FirstMismatch(1, [](int32_t c) { return -c; }), -1);
}

TEST_F(SpectrumFilesTest, MissingFileOrDirectoryFailsAtTheOpen)
{
    ASSERT_EQ(mkdir(Path("dir.txt").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(Path("dir.spe").c_str(), 0755), 0);
    Fill(1, OldCount);
    for (const char *name : {"none.txt", "none.spe", "none", "dir.txt", "dir.spe"}) {
        const SpectrumFileResult r = ReadSpectrum(Path(name), 1);
        EXPECT_EQ(r.box, SpectrumFileBox::OpenError) << name;
        EXPECT_STREQ(r.BoxCaption(), "  Спектр не прочитан !!!");
        EXPECT_EQ(r.generalError, "") << name;
    }
    EXPECT_EQ(FirstMismatch(1, OldCount), -1);
    EXPECT_FALSE(std::filesystem::exists(Path("none.spe")));
}

TEST_F(SpectrumFilesTest, InputErrorWhileReadingIsReportedAndStoresNothing)
{
    // Reading this process's memory image at offset 0 fails with EIO.
    ASSERT_EQ(symlink("/proc/self/mem", Path("mem.txt").c_str()), 0);
    ASSERT_EQ(symlink("/proc/self/mem", Path("mem.spe").c_str()), 0);
    Fill(1, OldCount);
    for (const char *name : {"mem.txt", "mem.spe"}) {
        const SpectrumFileResult r = ReadSpectrum(Path(name), 1);
        EXPECT_EQ(r.box, SpectrumFileBox::ReadError) << name;
        EXPECT_STREQ(r.BoxCaption(), "  Спектр не прочитан !!!");
        EXPECT_EQ(r.generalError, "") << name;
        EXPECT_EQ(FirstMismatch(1, OldCount), -1) << name;
    }
}

// ---------------------------------------------------------------------------
// Save failures

TEST_F(SpectrumFilesTest, FileThatCannotBeCreatedIsReportedInBothFormats)
{
    for (const char *name : {"no/such/dir/Spektr.txt", "no/such/dir/Spektr.spe", "no/Spektr"}) {
        const SpectrumFileResult r = SaveSpectrum(Path(name), 1);
        EXPECT_EQ(r.box, SpectrumFileBox::OpenError) << name;
        EXPECT_STREQ(r.BoxText(), "Ошибка открытия файла");
        EXPECT_STREQ(r.BoxCaption(), "  Спектр не сохранен !!!");
        EXPECT_EQ(r.generalError, "") << name;
        EXPECT_FALSE(r.Succeeded());
    }
    ASSERT_EQ(mkdir(Path("taken.spe").c_str(), 0755), 0);
    EXPECT_EQ(SaveSpectrum(Path("taken.spe"), 1).box, SpectrumFileBox::OpenError);

    // A file without any write permission bit stays as it is, whoever runs
    // the program (root included); one write bit is enough.
    Fill(1, [](int32_t c) { return Pattern(c); });
    for (const char *name : {"locked.txt", "locked.spe"}) {
        WriteFile(Path(name), "kept");
        ASSERT_EQ(chmod(Path(name).c_str(), 0444), 0);
        EXPECT_EQ(SaveSpectrum(Path(name), 1).box, SpectrumFileBox::OpenError) << name;
        EXPECT_EQ(FileBytes(Path(name)), "kept") << name;
        ASSERT_EQ(chmod(Path(name).c_str(), 0200), 0);
        EXPECT_TRUE(SaveSpectrum(Path(name), 1).Succeeded()) << name;
    }
}

TEST_F(SpectrumFilesTest, NotARegularFileFailsAtTheOpenWithoutWaiting)
{
    alarm(20); // a FIFO open that waits for its other end would end the test here
    ASSERT_EQ(mkfifo(Path("fifo.txt").c_str(), 0666), 0);
    ASSERT_EQ(mkfifo(Path("fifo.spe").c_str(), 0666), 0);
    ASSERT_EQ(symlink("/dev/zero", Path("zero.spe").c_str()), 0);
    Fill(1, OldCount);
    for (const char *name : {"fifo.txt", "fifo.spe", "zero.spe"}) {
        for (const SpectrumFileResult &r : {ReadSpectrum(Path(name), 1), SaveSpectrum(Path(name), 1)}) {
            EXPECT_EQ(r.box, SpectrumFileBox::OpenError) << name;
            EXPECT_EQ(r.generalError, "") << name;
        }
    }
    EXPECT_EQ(SaveSpectrum("/dev/full", 1).box, SpectrumFileBox::OpenError);
    EXPECT_EQ(FirstMismatch(1, OldCount), -1);
    alarm(0);
}

int FailingClose(int fd)
{
    ::close(fd);
    errno = EIO;
    return -1;
}

int FailingSync(int)
{
    errno = EIO;
    return -1;
}

int FullSync(int)
{
    errno = ENOSPC;
    return -1;
}

int UnsupportedSync(int)
{
    errno = EINVAL;
    return -1;
}

TEST_F(SpectrumFilesTest, FailedCloseGoesToTheGeneralErrorReport)
{
    Fill(1, [](int32_t c) { return Pattern(c); });
    SetSpectrumFileCloseHook(FailingClose);
    for (const char *name : {"c.txt", "c.spe"}) {
        const SpectrumFileResult s = SaveSpectrum(Path(name), 1);
        EXPECT_EQ(s.box, SpectrumFileBox::None) << name;
        EXPECT_EQ(s.generalError, "Input/output error") << name;

        Fill(1, OldCount);
        const SpectrumFileResult r = ReadSpectrum(Path(name), 1);
        EXPECT_EQ(r.box, SpectrumFileBox::None) << name;
        EXPECT_EQ(r.generalError, "Input/output error") << name;
        // The counts were read before the close.
        EXPECT_EQ(FirstMismatch(1, [](int32_t c) { return Pattern(c); }), -1) << name;
        Fill(1, [](int32_t c) { return Pattern(c); });
    }
    // The write error that ended a save is the one reported.
    SetSpectrumFileSyncHook(FullSync);
    EXPECT_EQ(SaveSpectrum(Path("c.spe"), 1).generalError, "No space left on device");
    // A write error box of the text format comes with the close error.
    const SpectrumFileResult t = SaveSpectrum(Path("c.txt"), 1);
    EXPECT_EQ(t.box, SpectrumFileBox::WriteError);
    EXPECT_EQ(t.generalError, "Input/output error");
    SetSpectrumFileSyncHook(nullptr);
    // A conversion error stays the message of a read that also fails to close.
    WriteFile(Path("bad.txt"), Line(0, 1) + "     1  " + PadLeft("abc", 12) + "\r\n");
    EXPECT_EQ(ReadSpectrum(Path("bad.txt"), 1).generalError, "'         abc' is not a valid integer value");
}

TEST_F(SpectrumFilesTest, DataThatDoesNotReachTheDiskIsAFailedSave)
{
    Fill(1, [](int32_t c) { return Pattern(c); });
    SetSpectrumFileSyncHook(FailingSync);
    const SpectrumFileResult t = SaveSpectrum(Path("s.txt"), 1);
    EXPECT_EQ(t.box, SpectrumFileBox::WriteError);
    EXPECT_EQ(t.generalError, "");
    const SpectrumFileResult b = SaveSpectrum(Path("s.spe"), 1);
    EXPECT_EQ(b.box, SpectrumFileBox::None);
    EXPECT_EQ(b.generalError, "Input/output error");

    // A save that fails (here the disk full when the data is written back)
    // leaves the old file as it was and nothing beside it; one that succeeds
    // keeps the old file's permissions and a link to it a link.
    SetSpectrumFileSyncHook(FullSync);
    WriteFile(Path("old.txt"), "old spectrum");
    ASSERT_EQ(chmod(Path("old.txt").c_str(), 0640), 0);
    ASSERT_EQ(symlink("old.txt", Path("link.spe").c_str()), 0);
    EXPECT_EQ(SaveSpectrum(Path("old.txt"), 1).box, SpectrumFileBox::WriteError);
    EXPECT_EQ(SaveSpectrum(Path("link.spe"), 1).generalError, "No space left on device");
    EXPECT_EQ(FileBytes(Path("old.txt")), "old spectrum");
    SetSpectrumFileSyncHook(nullptr);
    ASSERT_TRUE(SaveSpectrum(Path("link.spe"), 1).Succeeded());
    EXPECT_TRUE(std::filesystem::is_symlink(Path("link.spe")));
    EXPECT_EQ(FileBytes(Path("old.txt")).size(), size_t(Settings.ChannelCount) * 4);
    struct stat st;
    ASSERT_EQ(stat(Path("old.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir_))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"link.spe", "old.txt"}));

    // A file system that cannot synchronise does not fail the save.
    SetSpectrumFileSyncHook(UnsupportedSync);
    EXPECT_TRUE(SaveSpectrum(Path("s.txt"), 1).Succeeded());
    EXPECT_TRUE(SaveSpectrum(Path("s.spe"), 1).Succeeded());
}

} // namespace
