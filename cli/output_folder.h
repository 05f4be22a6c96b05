// The output folder of `vavizar build`: made when missing, and locked for the
// whole run so that two builds never write into one folder at once.

#ifndef VAVIZAR_CLI_OUTPUT_FOLDER_H_
#define VAVIZAR_CLI_OUTPUT_FOLDER_H_

#include <string>
#include <vector>

namespace vz::cli {

class OutputFolder {
 public:
  // Makes `dir` when missing and takes its lock (flock on the folder
  // itself, released when the process ends, however it ends). When another
  // build holds it, waits after writing `waiting_line` to stderr, or with
  // `no_wait` throws an Error at once. Throws an Error when the folder
  // cannot be made or opened.
  OutputFolder(const std::string& dir, bool no_wait, const std::string& waiting_line);
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Removes the temporary files that builds which ended without cleaning up
  // (killed, or the machine stopped) left here; only names that ReplaceFile
  // makes are touched. Returns their names.
  std::vector<std::string> RemoveDeadTemporaryFiles() const;

 private:
  std::string dir_;
  int fd_ = -1;
};

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_OUTPUT_FOLDER_H_
