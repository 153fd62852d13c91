// The data memory as a shared mapping of a file, so that another process
// (an acquisition driver) writes counts that the program reads.
#pragma once

#include <string>

namespace device {

// Places a shared mapping of the file at path over the data memory. A
// missing file is created with DataMemorySize zero bytes. A file of another
// size, one that is not a regular file or one that cannot be mapped is left
// as it was; then false with the reason in errorText.
bool MapDataMemory(const std::string &path, std::string &errorText);

} // namespace device
