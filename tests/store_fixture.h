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
#include <iterator>
#include <string>
#include <vector>

#include "platform/ado/connection.h"
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

// The three tables of a site, as the component's queries read them: the tag
// name first and the tag code fourth in web_tag.
inline constexpr const char* kSiteSchema =
    "CREATE TABLE web_templet (page_id INTEGER, tset_id INTEGER, tmpl_file TEXT);\n"
    "CREATE TABLE web_page2func (page_id INTEGER, FunID INTEGER);\n"
    "CREATE TABLE web_tag (tag_name TEXT, FunID INTEGER, tag_note TEXT, tag_code TEXT);\n";

// The whole content of a file; "" when it cannot be read.
inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return bytes;
}

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

// The entries of an error log without their date-time texts: "[53] File not
// found", "[Vantrel_ZozEza] 模板不存在。". Every entry must have a date before
// " - [" and end in CR LF.
inline std::vector<Text> Entries(const Text& log) {
  std::vector<Text> entries;
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find(u"\r\n", at);
    if (end == Text::npos) {
      ADD_FAILURE() << "log does not end in CR LF: " << ToUtf8(log);
      break;
    }
    Text line = log.substr(at, end - at);
    size_t dash = line.find(u" - [");
    if (dash == Text::npos || dash == 0) {
      ADD_FAILURE() << "entry without date: " << ToUtf8(line);
    } else {
      entries.push_back(line.substr(dash + 3));
    }
    at = end + 2;
  }
  return entries;
}

// References held on a counted object besides the caller's own.
template <typename T>
unsigned References(T* object) {
  object->AddRef();
  return object->Release();
}

// The tag names (column 0) of a tag table, in row order.
inline std::vector<Text> Names(const ado::RowTable& tags) {
  std::vector<Text> names;
  for (int32_t row = 0; row < tags.rows; ++row) names.push_back(ado::CellText(tags.At(0, row)));
  return names;
}

}  // namespace vz::testing

#endif  // VAVIZAR_TESTS_STORE_FIXTURE_H_
