// Writing a whole buffer to a descriptor, for the programs' output.

#ifndef VAVIZAR_CLI_WRITE_H_
#define VAVIZAR_CLI_WRITE_H_

#include <string>

namespace vz::cli {

// Writes all of `bytes` to the descriptor `fd`, going on after interrupted
// writes; false when the descriptor refuses.
bool WriteAll(int fd, const std::string& bytes);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_WRITE_H_
