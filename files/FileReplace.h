// Replacing a file on disk: the new contents go into a new file beside the
// old one, are brought to the disk and renamed over it, so that a failure
// leaves the old file as it was and nothing beside it. Used by the spectrum
// window's saves and by the converter alike; what differs between them is
// in ReplaceOptions. Their reads share the open of a file to be read.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct stat;

// Opens the regular file at path for reading. Anything else (a folder, a
// FIFO, a device) is refused before it is opened, and the open does not
// wait for a FIFO's writer. Returns the descriptor, or -1: with errno set
// when the open failed, with errno 0 on refusal (st then tells what stands
// at path where that is known).
int OpenRegularFileForReading(const char *path, struct stat &st);

// Reads from fd until size bytes, the end of the file or an error; returns
// the bytes read. An error sets failed (errno tells which).
size_t ReadUpTo(int fd, void *data, size_t size, bool &failed);

// Whether a save may replace what stands at path: a new name or a regular
// file with a write permission bit may be; anything else (a FIFO, a device,
// a directory) or a file without any write bit may not, also for root.
enum class ReplaceRefusal { None, NotARegularFile, WriteProtected };
ReplaceRefusal ReplaceRefusalOf(const std::string &path);

struct ReplaceOptions {
    // Where no new file can be made beside the target (a folder without
    // write permission), write the target itself, truncated: a failure then
    // loses its old contents.
    bool inPlaceWhenNoFileBeside = false;
    // A close that fails after the data was brought to the disk still lets
    // the new file replace the old one (the failure is reported all the same);
    // otherwise any failure keeps the old file.
    bool renameAfterFailedClose = false;
};

// The steps of a replacement, in their order.
enum class ReplaceStep {
    None,        // nothing failed
    Refused,     // ReplaceRefusalOf refused the name (refusal says why)
    Open,        // the existing file may not be written by this user
    Create,      // no new file could be made beside it (nor, where allowed, in place)
    Permissions, // the new file could not be given the old one's permissions
    Write,
    Sync,        // the data did not reach the disk
    Close,
    Rename
};

struct ReplaceOutcome {
    ReplaceRefusal refusal = ReplaceRefusal::None;
    ReplaceStep failed = ReplaceStep::None; // the first step that failed
    int error = 0;                          // its errno (0 for Refused)
    // Writing, synchronising or renaming failed: the new contents are not
    // (wholly) at the target.
    bool dataFailed = false;
    int closeError = 0; // errno of a failed close, also after an earlier failure
    bool Succeeded() const { return failed == ReplaceStep::None; }
};

// Replaces the file at path (symbolic links followed to their end, even
// where that end does not exist yet) with data. The new file keeps an old
// one's permissions and, where allowed, its owner; a new one gets 0666 less
// the umask. After the rename the folder is brought to the disk too.
ReplaceOutcome ReplaceFileContents(const std::string &path, std::string_view data, ReplaceOptions options);

// Test seams: replace close(2) and fsync(2) for the spectrum file operations
// (to provoke failures that a real file system rarely gives); nullptr
// restores the system calls.
using SpectrumFileSysCallFn = int (*)(int fd);
void SetSpectrumFileCloseHook(SpectrumFileSysCallFn fn);
void SetSpectrumFileSyncHook(SpectrumFileSysCallFn fn);
// close(2), or the hook set for it.
int CloseSpectrumFile(int fd);
