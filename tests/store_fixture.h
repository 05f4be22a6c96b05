// Test helpers for the data-access, file and store tests: a temporary folder,
// files written byte for byte, and SQLite databases built with the sqlite3
// command-line shell (the component itself never writes a database).

#ifndef VAVIZAR_TESTS_STORE_FIXTURE_H_
#define VAVIZAR_TESTS_STORE_FIXTURE_H_

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/failure.h"
#include "platform/text.h"

namespace vz::testing {

// A fresh folder under the system's temporary folder, removed with all its
// content when the object goes.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vz_store_XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (made == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

// Runs `sql` (UTF-8) with the sqlite3 shell on the database file `path`.
inline void RunSql(const std::string& path, const std::string& sql) {
  std::string script = path + ".sql";
  WriteBytes(script, sql);
  std::string command = "sqlite3 -bail '" + path + "' < '" + script + "' 2>&1";
  int status = std::system(command.c_str());
  std::remove(script.c_str());
  ASSERT_EQ(status, 0) << "sqlite3 failed on: " << sql;
}

// Number of open descriptors of this process.
inline int OpenDescriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

// The failure that `fn` raised, or number 0 when it raised none.
template <typename Fn>
ErrorState FailureOf(Fn&& fn) {
  try {
    fn();
  } catch (...) {
    return CurrentError();
  }
  return {};
}

}  // namespace vz::testing

#endif  // VAVIZAR_TESTS_STORE_FIXTURE_H_
