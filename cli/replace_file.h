// Replacing a file whole: the new bytes go to a temporary file beside it,
// which is then renamed over the old one. A reader, or a run that stops
// half-way, sees either the old file or the new one, never a mixture.

#ifndef VAVIZAR_CLI_REPLACE_FILE_H_
#define VAVIZAR_CLI_REPLACE_FILE_H_

#include <sys/types.h>

#include <string>

namespace vz::cli {

// The permission bits of a new file under the process's file-creation mask.
// Reads the mask, so call it before other threads create files.
mode_t NewFileMode();

// Writes `bytes` to `dir`/`name` through a temporary file ".NAME.tmp-XXXXXX"
// in `dir`, given the permission bits `mode`, then renames it into place. On
// failure the temporary file is removed, the old file stays, and the result
// is false with `problem` set to "cannot write 'PATH': <why>".
bool ReplaceFile(const std::string& dir, const std::string& name, const std::string& bytes,
                 mode_t mode, std::string* problem);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_REPLACE_FILE_H_
