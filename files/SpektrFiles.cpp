// Spectrum files: text and binary formats over POSIX file calls.

#include "files/SpektrFiles.h"

#include "core/Uryv.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

SpectrumFileSysCallFn closeHook = nullptr;
SpectrumFileSysCallFn syncHook = nullptr;

int SysClose(int fd) { return closeHook ? closeHook(fd) : ::close(fd); }
int SysSync(int fd) { return syncHook ? syncHook(fd) : ::fsync(fd); }

std::string ErrorText(int err) { return std::strerror(err); }

int32_t CurrentChannelCount() { return Settings.ChannelCount > 0 ? Settings.ChannelCount : 0; }

int OpenRetrying(const char *path, int flags, mode_t mode = 0)
{
    int fd;
    do
        fd = ::open(path, flags | O_CLOEXEC | O_NOCTTY, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool HasWriteBit(const struct stat &st) { return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0; }

// Opens an existing regular file for reading. Anything else (a directory, a
// FIFO, a device) is refused before any byte is read; the open does not wait
// for a FIFO's writer. Returns -1 on refusal.
int OpenForReading(const std::string &path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return -1;
    const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Creates a new file or truncates an existing regular file for writing. A
// name that stands for anything but a regular file is refused, and so is a
// file without any write permission bit, also for root, who could otherwise
// open it. Returns -1 on refusal.
int CreateForWriting(const std::string &path)
{
    if (ReplaceRefusalOf(path) != ReplaceRefusal::None)
        return -1;
    struct stat st;
    const bool existed = ::stat(path.c_str(), &st) == 0;
    const int fd = OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK, 0666);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (existed && !HasWriteBit(st)) ||
        ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Writes all of data; false with errno set at the first failure (bytes
// written before it stay in the file).
bool WriteAll(int fd, const uint8_t *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads until size bytes, end of file or an error; returns the bytes read.
size_t ReadUpTo(int fd, uint8_t *data, size_t size, bool &failed)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failed = true;
            break;
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return got;
}

// Brings what was written to the storage device, so that a failure that the
// file system only notices on write-back is still reported as a failed save.
// Devices and pipes, which cannot be synchronised, count as written.
bool SyncWritten(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    if (SysSync(fd) == 0)
        return true;
    return errno == EINVAL || errno == EROFS;
}

// Closes fd; a failure goes to the general error report unless an earlier
// error already ended the operation.
void CloseReporting(int fd, SpectrumFileResult &r)
{
    if (SysClose(fd) != 0 && r.generalError.empty())
        r.generalError = ErrorText(errno);
}

std::string NotAnIntegerMessage(const std::string &field)
{
    const std::string format = NotAnIntegerFormat;
    const size_t at = format.find("%s");
    return format.substr(0, at) + field + format.substr(at + 2);
}

void AppendTextLine(std::string &out, int32_t channel, int32_t value)
{
    char line[48];
    const int n = std::snprintf(line, sizeof line, "%6d  %12d\r\n", static_cast<int>(channel),
                                static_cast<int>(value));
    out.append(line, static_cast<size_t>(n));
}

// Sequential reader of a text file: a line ends at CR, at LF, or at CR LF
// taken together, Ctrl-Z ends the readable text, and an input error is
// remembered and ends the text as well.
class TextReader {
public:
    explicit TextReader(int fd) : fd_(fd), buf_(65536) {}

    bool Failed() const { return failed_; }

    // Up to max characters, stopping before the line end or the end of text.
    std::string Take(size_t max)
    {
        std::string s;
        int ch;
        while (s.size() < max && (ch = Peek()) >= 0 && ch != '\r' && ch != '\n') {
            s.push_back(static_cast<char>(ch));
            ++pos_;
        }
        return s;
    }

    // Skips the rest of the line together with its line end.
    void SkipLine()
    {
        int ch;
        while ((ch = Peek()) >= 0 && ch != '\r' && ch != '\n')
            ++pos_;
        if (ch == '\n') {
            ++pos_;
        } else if (ch == '\r') {
            ++pos_;
            if (Peek() == '\n')
                ++pos_;
        }
    }

private:
    static constexpr uint8_t CtrlZ = 0x1A;

    // Next character without taking it, or -1 at the end of the text.
    int Peek()
    {
        if (pos_ == len_ && !Fill())
            return -1;
        if (buf_[pos_] == CtrlZ) {
            end_ = true;
            len_ = pos_;
            return -1;
        }
        return buf_[pos_];
    }

    bool Fill()
    {
        if (end_)
            return false;
        pos_ = len_ = 0;
        for (;;) {
            const ssize_t n = ::read(fd_, buf_.data(), buf_.size());
            if (n > 0) {
                len_ = static_cast<size_t>(n);
                return true;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                failed_ = true;
            end_ = true;
            return false;
        }
    }

    int fd_;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0, len_ = 0;
    bool end_ = false, failed_ = false;
};

} // namespace

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

bool ConvertCountField(const std::string &field, int32_t &value)
{
    const size_t n = field.size();
    size_t i = 0;
    while (i < n && field[i] == ' ')
        ++i;
    if (i == n)
        return false;

    bool hex = false;
    if (field[i] == '$' || field[i] == 'x' || field[i] == 'X') {
        hex = true;
        i += 1;
    } else if (field[i] == '0' && i + 1 < n && (field[i + 1] == 'x' || field[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }

    if (hex) {
        if (i == n)
            return false;
        uint64_t v = 0;
        for (; i < n; ++i) {
            const char ch = field[i];
            int d;
            if (ch >= '0' && ch <= '9')
                d = ch - '0';
            else if (ch >= 'a' && ch <= 'f')
                d = ch - 'a' + 10;
            else if (ch >= 'A' && ch <= 'F')
                d = ch - 'A' + 10;
            else
                return false;
            v = v * 16 + static_cast<uint64_t>(d);
            if (v > 0xFFFFFFFFu)
                return false;
        }
        value = static_cast<int32_t>(static_cast<uint32_t>(v));
        return true;
    }

    bool negative = false;
    if (field[i] == '+' || field[i] == '-') {
        negative = field[i] == '-';
        ++i;
    }
    if (i == n)
        return false;
    int64_t v = 0;
    for (; i < n; ++i) {
        const char ch = field[i];
        if (ch < '0' || ch > '9')
            return false;
        v = v * 10 + (ch - '0');
        if (v > 2147483648LL)
            return false;
    }
    if (negative)
        v = -v;
    if (v > INT32_MAX)
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

SpectrumFileResult SaveTextSpectrum(const std::string &path, int32_t input)
{
    SpectrumFileResult r;
    r.op = SpectrumFileOp::Save;
    const int fd = CreateForWriting(path);
    if (fd < 0) {
        r.box = SpectrumFileBox::OpenError;
        return r;
    }

    // Lines are collected into chunks; every chunk is written even after an
    // earlier one failed, and a failure is reported once at the end.
    constexpr size_t ChunkSize = 64 * 1024;
    bool failed = false;
    std::string chunk;
    chunk.reserve(ChunkSize);
    const int32_t count = CurrentChannelCount();
    for (int32_t c = 0; c < count; ++c) {
        AppendTextLine(chunk, c, ReadChannel(c, input));
        if (chunk.size() + 22 > ChunkSize || c == count - 1) {
            if (!WriteAll(fd, reinterpret_cast<const uint8_t *>(chunk.data()), chunk.size()))
                failed = true;
            chunk.clear();
        }
    }
    if (!SyncWritten(fd))
        failed = true;
    if (failed)
        r.box = SpectrumFileBox::WriteError;
    CloseReporting(fd, r);
    return r;
}

SpectrumFileResult SaveBinarySpectrum(const std::string &path, int32_t input)
{
    SpectrumFileResult r;
    r.op = SpectrumFileOp::Save;
    const int fd = CreateForWriting(path);
    if (fd < 0) {
        // Reported like the text format: a silent failure would let the
        // operator believe the spectrum was saved.
        r.box = SpectrumFileBox::OpenError;
        return r;
    }

    const int32_t count = CurrentChannelCount();
    std::vector<uint8_t> records(static_cast<size_t>(count) * 4);
    for (int32_t c = 0; c < count; ++c) {
        const auto v = static_cast<uint32_t>(ReadChannel(c, input));
        for (int k = 0; k < 4; ++k)
            records[static_cast<size_t>(c) * 4 + static_cast<size_t>(k)] =
                static_cast<uint8_t>(v >> (8 * k));
    }
    // The first failing write ends the save; what was written stays.
    if (!WriteAll(fd, records.data(), records.size()) || !SyncWritten(fd))
        r.generalError = ErrorText(errno);
    CloseReporting(fd, r);
    return r;
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

    TextReader in(fd);
    const int32_t count = CurrentChannelCount();
    for (int32_t c = 0; c < count; ++c) {
        in.Take(6); // channel number, not examined: the line's position decides
        in.Take(2); // separator
        const std::string field = in.Take(12);
        // After an input error the fields may be cut short: store nothing
        // more rather than a wrong count.
        if (in.Failed())
            break;
        int32_t v;
        if (!ConvertCountField(field, v)) {
            r.generalError = NotAnIntegerMessage(field);
            break;
        }
        WriteChannel(c, input, v);
        in.SkipLine();
    }
    if (in.Failed())
        r.box = SpectrumFileBox::ReadError;
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

    const int32_t count = CurrentChannelCount();
    std::vector<uint8_t> records(static_cast<size_t>(count) * 4);
    bool failed = false;
    const size_t got = ReadUpTo(fd, records.data(), records.size(), failed);
    // A channel without a whole record in the file keeps its count; the
    // failure is reported once, after every channel was visited.
    bool incomplete = false;
    for (int32_t c = 0; c < count; ++c) {
        const size_t at = static_cast<size_t>(c) * 4;
        if (at + 4 > got) {
            incomplete = true;
            continue;
        }
        const uint32_t v = uint32_t(records[at]) | uint32_t(records[at + 1]) << 8 |
                           uint32_t(records[at + 2]) << 16 | uint32_t(records[at + 3]) << 24;
        WriteChannel(c, input, static_cast<int32_t>(v));
    }
    if (incomplete || failed)
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

void SetSpectrumFileCloseHook(SpectrumFileSysCallFn fn) { closeHook = fn; }
void SetSpectrumFileSyncHook(SpectrumFileSysCallFn fn) { syncHook = fn; }

ReplaceRefusal ReplaceRefusalOf(const std::string &path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return ReplaceRefusal::None;
    if (!S_ISREG(st.st_mode))
        return ReplaceRefusal::NotARegularFile;
    return HasWriteBit(st) ? ReplaceRefusal::None : ReplaceRefusal::WriteProtected;
}
