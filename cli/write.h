// Whole-buffer reads and writes of files and descriptors, for the programs'
// output and the build folder.

#ifndef VAVIZAR_CLI_WRITE_H_
#define VAVIZAR_CLI_WRITE_H_

#include <string>
#include <string_view>

namespace vz::cli {

// Writes all of `bytes` to the descriptor `fd`, going on after interrupted
// writes; false when the descriptor refuses.
bool WriteAll(int fd, std::string_view bytes);

// Sets `bytes` to the whole content of the file at `path`; false when it
// cannot be opened or read.
bool ReadFileBytes(const std::string& path, std::string* bytes);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_WRITE_H_
