// Spectrum files: the window's read and save of the text and binary
// formats over POSIX file calls.

#include "files/SpektrFiles.h"

#include "files/SpectrumCodec.h"

#include "core/Uryv.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

// Where a save writes: a new file beside the one it replaces, renamed over
// it once every record is written, so that a failed save leaves the old
// file as it was; or, where no file can be created beside it (a folder
// without write permission) or the name is a link to nothing, the file
// itself, truncated, as before.
struct SaveTarget {
    int fd = -1;
    std::string finalPath; // the file replaced, links followed
    std::string tempPath;  // empty when writing in place
};

std::string TempNameBeside(const std::string &path, unsigned attempt)
{
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%d.%u.tmp", static_cast<int>(::getpid()), attempt);
    return dir + "." + name + suffix;
}

bool OpenSaveTarget(const std::string &path, SaveTarget &t)
{
    if (ReplaceRefusalOf(path) != ReplaceRefusal::None)
        return false;
    struct stat old;
    const bool existed = ::stat(path.c_str(), &old) == 0;
    struct stat link;
    if (!existed && ::lstat(path.c_str(), &link) == 0) {
        // A link to nothing: the save creates what it points to.
        t.fd = CreateForWriting(path);
        return t.fd >= 0;
    }
    t.finalPath = path;
    if (existed) {
        // The old file must be one this user may write, as for a save in
        // place; the new one takes the place of what the links lead to.
        const int probe = OpenRetrying(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (probe < 0)
            return false;
        const bool regular = ::fstat(probe, &old) == 0 && S_ISREG(old.st_mode) && HasWriteBit(old);
        ::close(probe);
        if (!regular)
            return false;
        if (char *real = ::realpath(path.c_str(), nullptr)) {
            t.finalPath = real;
            std::free(real);
        }
    }
    for (unsigned attempt = 0; attempt < 100 && t.fd < 0; ++attempt) {
        t.tempPath = TempNameBeside(t.finalPath, attempt);
        t.fd = OpenRetrying(t.tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (t.fd < 0 && errno != EEXIST)
            break;
    }
    if (t.fd < 0) {
        t.tempPath.clear();
        t.fd = CreateForWriting(path);
        return t.fd >= 0;
    }
    if (existed) {
        // The new file keeps the old one's permissions and, where allowed,
        // its owner.
        if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
            ::fchown(t.fd, old.st_uid, old.st_gid) != 0) {
            // Not allowed: the file becomes this user's, as a new one would.
        }
        ::fchmod(t.fd, old.st_mode & 07777);
    }
    return true;
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
// Devices and pipes, and file systems that cannot synchronise, count as
// written (Unsupported).
enum class SyncOutcome { Synced, Unsupported, Failed };

SyncOutcome SyncWritten(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return SyncOutcome::Unsupported;
    if (SysSync(fd) == 0)
        return SyncOutcome::Synced;
    return errno == EINVAL || errno == EROFS ? SyncOutcome::Unsupported : SyncOutcome::Failed;
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

// Writes the encoded spectrum to path through a SaveTarget. A failure of
// the text format is the write error box, one of the binary format the
// general error report of the failing call.
SpectrumFileResult SaveBytes(const std::string &path, const std::string &bytes, bool text)
{
    SpectrumFileResult r;
    r.op = SpectrumFileOp::Save;
    SaveTarget t;
    if (!OpenSaveTarget(path, t)) {
        // Reported alike in both formats: a silent failure would let the
        // operator believe the spectrum was saved.
        r.box = SpectrumFileBox::OpenError;
        return r;
    }
    SyncOutcome synced = SyncOutcome::Failed;
    bool written = WriteAll(t.fd, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    if (written) {
        synced = SyncWritten(t.fd);
        written = synced != SyncOutcome::Failed;
    }
    auto fail = [&] {
        if (text)
            r.box = SpectrumFileBox::WriteError;
        else if (r.generalError.empty())
            r.generalError = ErrorText(errno);
    };
    if (!written)
        fail();
    CloseReporting(t.fd, r);
    if (t.tempPath.empty())
        return r;
    // A failed close is reported; it keeps the old file only where nothing
    // but the close could tell whether the data reached the disk.
    const bool closed = r.generalError.empty();
    if (written && (closed || synced == SyncOutcome::Synced)) {
        if (::rename(t.tempPath.c_str(), t.finalPath.c_str()) == 0) {
            const size_t slash = t.finalPath.rfind('/');
            const std::string dir = slash == std::string::npos ? "." : t.finalPath.substr(0, slash + 1);
            const int dfd = OpenRetrying(dir.c_str(), O_RDONLY | O_DIRECTORY);
            if (dfd >= 0) {
                ::fsync(dfd);
                ::close(dfd);
            }
            return r;
        }
        fail();
    }
    ::unlink(t.tempPath.c_str());
    return r;
}

std::vector<int32_t> ChannelsOf(int32_t input)
{
    const int32_t count = CurrentChannelCount();
    std::vector<int32_t> counts(static_cast<size_t>(count));
    for (int32_t c = 0; c < count; ++c)
        counts[static_cast<size_t>(c)] = ReadChannel(c, input);
    return counts;
}

void StoreChannels(const std::vector<int32_t> &counts, int32_t input)
{
    for (size_t c = 0; c < counts.size(); ++c)
        WriteChannel(static_cast<int32_t>(c), input, counts[c]);
}

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
