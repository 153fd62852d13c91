#include "device/SharedMemory.h"

#include "core/Uryv.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace device {

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
    if (created) {
        if (::ftruncate(fd, DataMemorySize) != 0)
            return undo(std::strerror(errno));
    } else if (st.st_size != DataMemorySize) {
        return undo("the file holds " + std::to_string(st.st_size) + " bytes, not " +
                    std::to_string(DataMemorySize));
    }
    // The mapping replaces the pages of the data memory in place, so every
    // reader of DataMemory sees the file.
    void *at = ::mmap(DataMemory, DataMemorySize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
    if (at == MAP_FAILED)
        return undo(std::strerror(errno));
    ::close(fd);
    return true;
}

} // namespace device
