// Replacing a file on disk through a new file beside it and a rename.

#include "files/FileReplace.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

SpectrumFileSysCallFn closeHook = nullptr;
SpectrumFileSysCallFn syncHook = nullptr;

int SysSync(int fd) { return syncHook ? syncHook(fd) : ::fsync(fd); }

int OpenRetrying(const char *path, int flags, mode_t mode = 0)
{
    int fd;
    do
        fd = ::open(path, flags | O_CLOEXEC | O_NOCTTY, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool HasWriteBit(const struct stat &st) { return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0; }

// The file a write to path lands in: symbolic links followed to their end,
// even where that end does not exist yet.
std::string FinalTarget(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        std::string target(size_t(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
        const ssize_t k = ::readlink(path.c_str(), target.data(), target.size());
        if (k <= 0 || size_t(k) >= target.size())
            break;
        target.resize(size_t(k));
        const size_t slash = path.rfind('/');
        if (target[0] != '/' && slash != std::string::npos)
            target.insert(0, path, 0, slash + 1);
        path = target;
    }
    return path;
}

std::string FolderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A hidden name beside path; a long name is shortened so that the temporary
// one stays within the file system's limit.
std::string TempNameBeside(const std::string &path, unsigned attempt)
{
    const std::string dir = FolderOf(path);
    std::string name = path.substr(dir.size());
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%d.%u.tmp", static_cast<int>(::getpid()), attempt);
    const size_t room = NAME_MAX - 1 - std::strlen(suffix);
    if (name.size() > room)
        name.resize(room);
    return dir + "." + name + suffix;
}

// A new file beside target, 0666 less the umask; -1 with errno set.
int CreateBeside(const std::string &target, std::string &temp)
{
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temp = TempNameBeside(target, attempt);
        const int fd = OpenRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// The target itself, created or truncated; only a regular file, and one
// with a write bit where it exists. -1 on refusal.
int OpenInPlace(const std::string &target, bool existed)
{
    const int fd = OpenRetrying(target.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK, 0666);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (existed && !HasWriteBit(st)) ||
        ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Writes all of data; false with errno set at the first failure.
bool WriteAll(int fd, std::string_view data)
{
    const char *p = data.data();
    size_t size = data.size();
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Brings what was written to the storage device, so that a failure that the
// file system only notices on write-back is still reported. File systems
// that cannot synchronise count as written (Unsupported).
enum class SyncOutcome { Synced, Unsupported, Failed };

SyncOutcome SyncWritten(int fd)
{
    if (SysSync(fd) == 0)
        return SyncOutcome::Synced;
    return errno == EINVAL || errno == EROFS ? SyncOutcome::Unsupported : SyncOutcome::Failed;
}

// The rename itself reaches the disk only with its folder.
void SyncFolderOf(const std::string &path)
{
    const std::string dir = FolderOf(path);
    const int dfd = OpenRetrying(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

} // namespace

int OpenRegularFileForReading(const char *path, struct stat &st)
{
    if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        errno = 0;
        return -1;
    }
    const int fd = OpenRetrying(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = 0;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

size_t ReadUpTo(int fd, void *data, size_t size, bool &failed)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, static_cast<char *>(data) + got, size - got);
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

ReplaceRefusal ReplaceRefusalOf(const std::string &path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return ReplaceRefusal::None;
    if (!S_ISREG(st.st_mode))
        return ReplaceRefusal::NotARegularFile;
    return HasWriteBit(st) ? ReplaceRefusal::None : ReplaceRefusal::WriteProtected;
}

ReplaceOutcome ReplaceFileContents(const std::string &path, std::string_view data, ReplaceOptions options)
{
    ReplaceOutcome o;
    auto fail = [&o](ReplaceStep step, int err) {
        if (o.failed == ReplaceStep::None) {
            o.failed = step;
            o.error = err;
        }
        if (step == ReplaceStep::Write || step == ReplaceStep::Sync || step == ReplaceStep::Rename)
            o.dataFailed = true;
    };
    o.refusal = ReplaceRefusalOf(path);
    if (o.refusal != ReplaceRefusal::None) {
        o.failed = ReplaceStep::Refused;
        return o;
    }
    const std::string target = FinalTarget(path);
    struct stat old;
    if (::lstat(target.c_str(), &old) == 0 && S_ISLNK(old.st_mode)) {
        fail(ReplaceStep::Create, ELOOP); // links that lead round in a circle
        return o;
    }
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed) {
        // The old file must be one this user may write, as for a write in
        // place; root passes, but not where no write bit is set.
        const int probe = OpenRetrying(target.c_str(), O_WRONLY | O_NONBLOCK);
        if (probe < 0) {
            fail(ReplaceStep::Open, errno);
            return o;
        }
        const bool statted = ::fstat(probe, &old) == 0;
        ::close(probe);
        if (!statted || !S_ISREG(old.st_mode) || !HasWriteBit(old)) {
            o.refusal = statted && !S_ISREG(old.st_mode) ? ReplaceRefusal::NotARegularFile
                                                         : ReplaceRefusal::WriteProtected;
            o.failed = ReplaceStep::Refused;
            return o;
        }
    }

    std::string temp;
    int fd = CreateBeside(target, temp);
    if (fd < 0) {
        const int err = errno;
        if (options.inPlaceWhenNoFileBeside)
            fd = OpenInPlace(target, existed);
        if (fd < 0) {
            fail(ReplaceStep::Create, err);
            return o;
        }
        temp.clear();
    }
    if (!temp.empty() && existed) {
        // The new file keeps the old one's owner where allowed (otherwise it
        // becomes this user's, as a new one would) and its permissions.
        if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
            ::fchown(fd, old.st_uid, old.st_gid) != 0) {
        }
        if (::fchmod(fd, old.st_mode & 07777) != 0) {
            fail(ReplaceStep::Permissions, errno);
            ::close(fd);
            ::unlink(temp.c_str());
            return o;
        }
    }

    SyncOutcome synced = SyncOutcome::Failed;
    if (!WriteAll(fd, data)) {
        fail(ReplaceStep::Write, errno);
    } else {
        synced = SyncWritten(fd);
        if (synced == SyncOutcome::Failed)
            fail(ReplaceStep::Sync, errno);
    }
    if (CloseSpectrumFile(fd) != 0) {
        o.closeError = errno;
        fail(ReplaceStep::Close, o.closeError);
    }
    if (temp.empty())
        return o;
    // After a failed close only a successful sync tells that the data is on
    // the disk.
    const bool closed = o.closeError == 0;
    if (!o.dataFailed && (closed || (options.renameAfterFailedClose && synced == SyncOutcome::Synced))) {
        if (::rename(temp.c_str(), target.c_str()) == 0) {
            SyncFolderOf(target);
            return o;
        }
        fail(ReplaceStep::Rename, errno);
    }
    ::unlink(temp.c_str());
    return o;
}

void SetSpectrumFileCloseHook(SpectrumFileSysCallFn fn) { closeHook = fn; }
void SetSpectrumFileSyncHook(SpectrumFileSysCallFn fn) { syncHook = fn; }

int CloseSpectrumFile(int fd) { return closeHook ? closeHook(fd) : ::close(fd); }
