#include "device/SharedMemory.h"

#include "core/Uryv.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace device {

namespace {
int mappedFd = -1;                      // the mapped file, kept open until detached
volatile sig_atomic_t cutShort = 0;     // a page of the mapping had no file behind it
long pageSize = 0;
struct sigaction previousBus {};

// Places fresh zero pages, the program's own, over [at, at + length).
bool ZeroPages(void *at, size_t length)
{
    return ::mmap(at, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED;
}

// A read or write of a mapped page beyond the end of a file that another
// process cut short raises SIGBUS. Inside the data memory the page becomes a
// zero page and the access is done again; any other SIGBUS is left to the
// action that was there before.
void OnBus(int sig, siginfo_t *info, void *context)
{
    const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    const auto base = reinterpret_cast<uintptr_t>(DataMemory);
    if (at >= base && at < base + DataMemorySize && pageSize > 0) {
        const uintptr_t page = at - (at - base) % static_cast<uintptr_t>(pageSize);
        if (ZeroPages(reinterpret_cast<void *>(page), static_cast<size_t>(pageSize))) {
            cutShort = 1;
            return;
        }
    }
    if (previousBus.sa_flags & SA_SIGINFO && previousBus.sa_sigaction) {
        previousBus.sa_sigaction(sig, info, context);
        return;
    }
    // The default action: returning runs the faulting access again, which
    // now ends the process as SIGBUS does.
    ::sigaction(SIGBUS, &previousBus, nullptr);
    if (previousBus.sa_handler != SIG_DFL && previousBus.sa_handler != SIG_IGN)
        previousBus.sa_handler(sig);
}

void WatchForCutShort()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    struct sigaction sa {};
    sa.sa_sigaction = OnBus;
    sa.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGBUS, &sa, &previousBus);
}
} // namespace

bool MapDataMemory(const std::string &path, std::string &errorText)
{
    errorText.clear();
    auto fail = [&](const std::string &why) {
        errorText = "--memory " + path + ": " + why;
        return false;
    };
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page <= 0 || reinterpret_cast<uintptr_t>(DataMemory) % static_cast<uintptr_t>(page) != 0 ||
        DataMemorySize % page != 0)
        return fail("the data memory cannot be mapped with this page size");
    bool created = false;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK); // no wait on a FIFO
    if (fd < 0 && errno == ENOENT) {
        struct stat link {};
        if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            return fail("a symbolic link to a file that does not exist");
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_CREAT | O_EXCL, 0644);
        created = fd >= 0;
    }
    if (fd < 0)
        return fail(std::strerror(errno));
    auto undo = [&](const std::string &why) {
        ::close(fd);
        if (created)
            ::unlink(path.c_str());
        return fail(why);
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return undo(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return undo("not a regular file");
    // A file without any write permission bit is kept as it is, also by root.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return undo("the file is write-protected");
    if (created) {
        // The blocks are reserved now: a full disk is refused here rather
        // than found at the first write through the mapping.
        if (const int err = ::posix_fallocate(fd, 0, DataMemorySize); err != 0)
            return undo(std::strerror(err));
    } else if (st.st_size != DataMemorySize) {
        return undo("the file holds " + std::to_string(st.st_size) + " bytes, not " +
                    std::to_string(DataMemorySize));
    }
    pageSize = page;
    WatchForCutShort();
    // The mapping replaces the pages of the data memory in place, so every
    // reader of DataMemory sees the file.
    void *at = ::mmap(DataMemory, DataMemorySize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
    if (at == MAP_FAILED)
        return undo(std::strerror(errno));
    if (mappedFd >= 0)
        ::close(mappedFd);
    mappedFd = fd;
    cutShort = 0;
    return true;
}

bool DataMemoryCutShort()
{
    if (!cutShort)
        return false;
    if (mappedFd >= 0) {
        // What the file still holds is kept; pages gone read as zeros (the
        // handler makes them so while they are copied).
        std::vector<uint8_t> kept(DataMemory, DataMemory + DataMemorySize);
        if (ZeroPages(DataMemory, DataMemorySize))
            std::memcpy(DataMemory, kept.data(), kept.size());
        ::close(mappedFd);
        mappedFd = -1;
    }
    return true;
}

} // namespace device
