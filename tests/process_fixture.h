// Running the built vavizar binary as a process in tests, and readers for
// what a build leaves: its summary line, build.log lines, the names in the
// output folder.

#ifndef VAVIZAR_TESTS_PROCESS_FIXTURE_H_
#define VAVIZAR_TESTS_PROCESS_FIXTURE_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace vz::testing {

// The names in a folder, sorted.
inline std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

// `text` with every run of decimal digits shown as "N", dates and counts
// alike: "page 3: 2026/12/8 4:03:36" is "page N: N/N/N N:N:N".
inline std::string Shape(const std::string& text) {
  std::string shape;
  for (size_t i = 0; i < text.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i]))) {
      if (shape.empty() || shape.back() != 'N') shape += 'N';
      // The next character, if a digit, extends the same run.
      while (i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))) ++i;
    } else {
      shape += text[i];
    }
  }
  return shape;
}

// The summary line a run ends with, its seconds left out: "vavizar build: 4
// written, 0 unchanged, 0 failed" (and what follows the seconds, if
// anything). The seconds must have the form "N.NN s".
inline std::string SummaryOf(const std::string& err) {
  if (err.empty() || err.back() != '\n') return "no summary in: " + err;
  size_t start = err.rfind('\n', err.size() - 2);
  start = start == std::string::npos ? 0 : start + 1;
  const std::string line = err.substr(start, err.size() - 1 - start);
  const size_t failed = line.find(" failed, ");
  if (line.rfind("vavizar build: ", 0) != 0 || failed == std::string::npos)
    return "no summary in: " + err;
  size_t at = failed + 9;
  size_t digits = at;
  while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
  const std::string seconds = line.substr(at, digits - at + 5);
  if (digits == at || seconds.size() != digits - at + 5 || Shape(seconds) != "N.N s" ||
      !std::isdigit(static_cast<unsigned char>(seconds[seconds.size() - 4])) ||
      !std::isdigit(static_cast<unsigned char>(seconds[seconds.size() - 3])))
    return "no seconds in: " + err;
  return line.substr(0, failed + 7) + line.substr(digits + 5);
}

// Whether `line` is a log line of the component led by `lead`: "page 3:
// 2026/12/8 4:03:36 - [53] File not found" (the time left out at midnight).
inline bool IsLogLine(const std::string& line, const std::string& lead, const std::string& entry) {
  if (line.rfind(lead, 0) != 0 || line.size() < lead.size() + entry.size()) return false;
  if (line.compare(line.size() - entry.size(), entry.size(), entry) != 0) return false;
  const std::string date =
      Shape(line.substr(lead.size(), line.size() - lead.size() - entry.size()));
  return date == "N/N/N N:N:N - " || date == "N/N/N - ";
}

// The lines of a text that ends in a line break, without their breaks.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  if (!text.empty() && text.back() != '\n') lines.push_back("(no final line break)");
  return lines;
}

// The built binary, run as a process with exactly the environment `env`:
// standard input from /dev/null, standard output and standard error into
// the files named ("/dev/null" to drop one), in the folder `cwd` when one is
// given. Returns its process id, or -1.
inline pid_t StartBinary(const std::vector<std::string>& args, const std::string& out_path,
                         const std::string& err_path, std::vector<std::string> env = {"LC_ALL=C"},
                         const std::string& cwd = "") {
  std::vector<std::string> words = {VZ_VAVIZAR_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, VZ_VAVIZAR_PATH, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << VZ_VAVIZAR_PATH << ": error " << spawned;
    return -1;
  }
  return pid;
}

inline int WaitBinary(pid_t pid) {
  int wait_status = 0;
  if (pid <= 0 || waitpid(pid, &wait_status, 0) != pid) return -1;
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

}  // namespace vz::testing

#endif  // VAVIZAR_TESTS_PROCESS_FIXTURE_H_
