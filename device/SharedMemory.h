// The data memory as a shared mapping of a file, so that another process
// (an acquisition driver) writes counts that the program reads.
#pragma once

#include <string>

namespace device {

// Places a shared mapping of the file at path over the data memory. A
// missing file is created with DataMemorySize zero bytes, its blocks
// reserved on the disk. A file of another size, one that is not a regular
// file, a write-protected one, a symbolic link to nothing or a file that
// cannot be created or mapped is left as it was (a file made here is
// removed again); then false with the reason in errorText.
//
// Once mapped, a file cut short by another process no longer kills the
// program: the pages past its new end read as zeros and the data memory is
// detached from the file (see DataMemoryCutShort).
bool MapDataMemory(const std::string &path, std::string &errorText);

// True once the mapped file was found cut short: the data memory has then
// become the program's own, holding what the file still held (zeros where
// it had gone). The first call after that moment also detaches it.
bool DataMemoryCutShort();

} // namespace device
