// Replacing a file whole: the new bytes go to a temporary file beside it,
// which is then renamed over the old one. A reader, or a run that stops
// half-way, sees either the old file or the new one, never a mixture.

#ifndef VAVIZAR_CLI_REPLACE_FILE_H_
#define VAVIZAR_CLI_REPLACE_FILE_H_

#include <string>
#include <string_view>
#include <vector>

namespace vz::cli {

// Writes `bytes` to `dir`/`name` through a temporary file ".NAME.tmp-PID" in
// `dir` (made with the permissions of a new file: 0666 under the process's
// file-creation mask), then renames it into place. On failure the temporary
// file is removed, the old file stays, and the result is false with
// `problem` set to "cannot write 'PATH': <why>".
// REQUIRES: no other thread of the process replaces the same file at once.
bool ReplaceFile(const std::string& dir, const std::string& name, const std::string& bytes,
                 std::string* problem);

// The same with the bytes given as pieces, one after another.
bool ReplaceFile(const std::string& dir, const std::string& name,
                 const std::vector<std::string_view>& pieces, std::string* problem);

// Whether `name` is that of a temporary file ReplaceFile makes.
bool IsTemporaryName(const std::string& name);

// Removes the temporary files that ReplaceFile calls of this process are
// writing at this moment. Async-signal-safe: for a signal handler that ends
// the process at once.
void RemovePendingTemporaryFiles();

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_REPLACE_FILE_H_
