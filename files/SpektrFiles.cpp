// Spectrum files: the window's read and save of the text and binary
// formats over POSIX file calls.

#include "files/SpektrFiles.h"

#include "files/SpectrumCodec.h"

#include "core/Uryv.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/stat.h>

namespace {

std::string ErrorText(int err) { return std::strerror(err); }

int32_t CurrentChannelCount() { return Settings.ChannelCount > 0 ? Settings.ChannelCount : 0; }

// Opens an existing regular file for reading; -1 on any failure or refusal.
int OpenForReading(const std::string &path)
{
    struct stat st;
    return OpenRegularFileForReading(path.c_str(), st);
}

// Closes fd; a failure goes to the general error report unless an earlier
// error already ended the operation.
void CloseReporting(int fd, SpectrumFileResult &r)
{
    if (CloseSpectrumFile(fd) != 0 && r.generalError.empty())
        r.generalError = ErrorText(errno);
}

std::string NotAnIntegerMessage(const std::string &field)
{
    const std::string format = NotAnIntegerFormat;
    const size_t at = format.find("%s");
    return format.substr(0, at) + field + format.substr(at + 2);
}

// Writes the encoded spectrum to path, in place where no file can be made
// beside it. A failure of the text format is the write error box, one of
// the binary format the general error report of the failing call; a failed
// close is reported after either, and keeps the old file only where the
// data could not be synchronised.
SpectrumFileResult SaveBytes(const std::string &path, const std::string &bytes, bool text)
{
    SpectrumFileResult r;
    r.op = SpectrumFileOp::Save;
    const ReplaceOutcome o =
        ReplaceFileContents(path, bytes, {.inPlaceWhenNoFileBeside = true, .renameAfterFailedClose = true});
    if (o.failed != ReplaceStep::None && o.failed < ReplaceStep::Write) {
        // Reported alike in both formats: a silent failure would let the
        // operator believe the spectrum was saved.
        r.box = SpectrumFileBox::OpenError;
        return r;
    }
    if (o.dataFailed) {
        if (text)
            r.box = SpectrumFileBox::WriteError;
        else
            r.generalError = ErrorText(o.error);
    }
    if (o.closeError != 0 && r.generalError.empty())
        r.generalError = ErrorText(o.closeError);
    return r;
}

void StoreChannels(const std::vector<int32_t> &counts, int32_t input)
{
    for (size_t c = 0; c < counts.size(); ++c)
        WriteChannel(static_cast<int32_t>(c), input, counts[c]);
}

} // namespace

std::vector<int32_t> ChannelsOf(int32_t input)
{
    const int32_t count = CurrentChannelCount();
    std::vector<int32_t> counts(static_cast<size_t>(count));
    ReadChannelRange(0, count, input, counts.data());
    return counts;
}

const char *SpectrumFileResult::BoxText() const
{
    switch (box) {
    case SpectrumFileBox::OpenError:
        return OpenErrorText;
    case SpectrumFileBox::WriteError:
        return WriteErrorText;
    case SpectrumFileBox::ReadError:
        return ReadErrorText;
    case SpectrumFileBox::None:
        break;
    }
    return "";
}

const char *SpectrumFileResult::BoxCaption() const
{
    return op == SpectrumFileOp::Save ? SaveFailedCaption : ReadFailedCaption;
}

bool IsTextSpectrumPath(const std::string &path)
{
    const size_t sep = path.find_last_of("/\\:");
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (sep != std::string::npos && dot < sep))
        return false;
    return path.compare(dot, std::string::npos, ".txt") == 0;
}

SpectrumFileResult SaveTextSpectrum(const std::string &path, int32_t input)
{
    std::string bytes;
    EncodeTextSpectrum(ChannelsOf(input), bytes);
    return SaveBytes(path, bytes, true);
}

SpectrumFileResult SaveBinarySpectrum(const std::string &path, int32_t input)
{
    std::string bytes;
    EncodeBinarySpectrum(ChannelsOf(input), bytes);
    return SaveBytes(path, bytes, false);
}

SpectrumFileResult ReadTextSpectrum(const std::string &path, int32_t input)
{
    SpectrumFileResult r;
    r.op = SpectrumFileOp::Read;
    const int fd = OpenForReading(path);
    if (fd < 0) {
        r.box = SpectrumFileBox::OpenError;
        return r;
    }

    // Only as much of the file is read as the channels need.
    const int32_t count = CurrentChannelCount();
    TextSpectrumDecoder decoder(static_cast<size_t>(count));
    std::vector<uint8_t> buf(65536);
    bool failed = false;
    while (!decoder.Done()) {
        const size_t got = ReadUpTo(fd, buf.data(), buf.size(), failed);
        decoder.Feed({buf.data(), got});
        if (failed)
            break;
        if (got < buf.size())
            decoder.Finish();
    }
    // After an input error the line being read may be cut short: the lines
    // before it are stored, nothing of it.
    StoreChannels(decoder.Counts(), input);
    if (failed)
        r.box = SpectrumFileBox::ReadError;
    else if (decoder.Failed())
        r.generalError = NotAnIntegerMessage(decoder.BadField());
    else if (decoder.Counts().size() < static_cast<size_t>(count))
        r.generalError = NotAnIntegerMessage(""); // the text ended: the fields are empty
    CloseReporting(fd, r);
    return r;
}

SpectrumFileResult ReadBinarySpectrum(const std::string &path, int32_t input)
{
    SpectrumFileResult r;
    r.op = SpectrumFileOp::Read;
    const int fd = OpenForReading(path);
    if (fd < 0) {
        r.box = SpectrumFileBox::OpenError;
        return r;
    }

    const auto count = static_cast<size_t>(CurrentChannelCount());
    std::vector<uint8_t> records(count * 4);
    bool failed = false;
    const size_t got = ReadUpTo(fd, records.data(), records.size(), failed);
    // A channel without a whole record in the file keeps its count; the
    // failure is reported once.
    const std::vector<int32_t> counts = DecodeBinarySpectrum({records.data(), got}, count);
    StoreChannels(counts, input);
    if (counts.size() < count || failed)
        r.box = SpectrumFileBox::ReadError;
    CloseReporting(fd, r);
    return r;
}

SpectrumFileResult SaveSpectrum(const std::string &path, int32_t input)
{
    return IsTextSpectrumPath(path) ? SaveTextSpectrum(path, input)
                                    : SaveBinarySpectrum(path, input);
}

SpectrumFileResult ReadSpectrum(const std::string &path, int32_t input)
{
    return IsTextSpectrumPath(path) ? ReadTextSpectrum(path, input)
                                    : ReadBinarySpectrum(path, input);
}
