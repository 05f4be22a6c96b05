// One very large template through the whole page: its file read and decoded,
// its tag rows read from a SQLite database, every tag expanded, and for the
// execute code the conversion as well. Sizes from 6.25 MB to 50 MB of UTF-8;
// the fitted complexity and the bytes per second show whether the time grows
// with the size alone.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "component/page_ptr.h"
#include "platform/ado/open.h"
#include "platform/fso/code_page.h"

namespace vz {
namespace {

constexpr int kTagNames = 18;

// A scratch folder with the database and the templates, removed at exit.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/vz_large_XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

const Scratch& Folder() {
  static Scratch scratch;
  return scratch;
}

// A template of about `bytes` bytes: ordinary HTML with Chinese text, and
// about every kilobyte a plain tag, a tag with attributes around content
// that its code copies, and one of the other names.
std::string Template(size_t bytes) {
  std::string chunk;
  std::string text;
  text.reserve(bytes + 2048);
  for (int i = 0; text.size() < bytes; ++i) {
    chunk = "<div class=\"row\"><p>\xE6\xA8\xA1\xE6\x9D\xBF text " + std::to_string(i) +
            "</p>\r\n<!--nav-->\r\n<!--box w=" + std::to_string(i % 7) +
            " title=\"t\"-->inner <b>" + std::to_string(i) + "</b><!--/box-->\r\n";
    for (int k = 0; k < 10; ++k) chunk += "<a href=\"/page/" + std::to_string(k) + "\">link</a> ";
    chunk += "\r\n<!--t" + std::to_string(i % kTagNames) + "--></div>\r\n";
    text += chunk;
  }
  return text;
}

// The database (made once) and, per size, the template file; the page id is
// the size in kilobytes.
std::string Database() {
  static const std::string path = [] {
    const std::string db = Folder().path() + "/site.db";
    std::string sql =
        "CREATE TABLE web_templet (page_id INTEGER, tset_id INTEGER, tmpl_file TEXT);\n"
        "CREATE TABLE web_page2func (page_id INTEGER, FunID INTEGER);\n"
        "CREATE TABLE web_tag (tag_name TEXT, FunID INTEGER, tag_note TEXT, tag_code TEXT);\n"
        "INSERT INTO web_tag VALUES ('nav', NULL, '', 'Nav.Show');\n"
        "INSERT INTO web_tag VALUES ('box', NULL, '', "
        "'Box.Open w, title' || char(13,10) || '[data]' || char(13,10) || 'Box.Close');\n";
    for (int t = 0; t < kTagNames; ++t)
      sql += "INSERT INTO web_tag VALUES ('t" + std::to_string(t) + "', NULL, '', 'Call T" +
             std::to_string(t) + "');\n";
    std::ofstream(Folder().path() + "/site.sql") << sql;
    const std::string command =
        "sqlite3 '" + db + "' < '" + Folder().path() + "/site.sql' > /dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return std::string();
    return db;
  }();
  return path;
}

bool AddTemplate(size_t bytes) {
  const std::string name = std::to_string(bytes / 1024) + ".html";
  const std::string file = Folder().path() + "/" + name;
  if (std::filesystem::exists(file)) return true;
  std::ofstream(file, std::ios::binary) << Template(bytes);
  const std::string command = "sqlite3 '" + Database() + "' \"INSERT INTO web_templet VALUES (" +
                              std::to_string(bytes / 1024) + ", 1, '" + name +
                              "');\" > /dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

void Run(benchmark::State& state, bool execute) {
  const size_t bytes = static_cast<size_t>(state.range(0));
  if (Database().empty() || !AddTemplate(bytes)) {
    state.SkipWithError("cannot make the site (is sqlite3 installed?)");
    return;
  }
  fso::SetCodePage("65001");
  com::Ref<ado::DatabaseConnection> db = ado::OpenConnection(FromUtf8(Database()));
  PagePtr page = PagePtr::Create();
  page.PutRefConnection(db.get());
  page.PutTempletRoot(FromUtf8(Folder().path()));
  const Text id = FromUtf8(std::to_string(bytes / 1024));
  size_t length = 0;
  for (auto _ : state) {
    Text code = execute ? page.CreateExecuteCode(u"1", id) : page.CreateAspCode(u"1", id);
    length = code.size();
    benchmark::DoNotOptimize(code);
  }
  if (!page.GetErrors().empty()) {
    state.SkipWithError(ToUtf8(page.GetErrors()).c_str());
    return;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
  state.SetComplexityN(static_cast<int64_t>(bytes));
  state.counters["output_chars"] = static_cast<double>(length);
}

void BM_LargeTemplateAspCode(benchmark::State& state) { Run(state, false); }
void BM_LargeTemplateExecuteCode(benchmark::State& state) { Run(state, true); }

void Sizes(benchmark::internal::Benchmark* b) {
  constexpr int64_t kMB = 1 << 20;
  for (int64_t size : {25 * kMB / 4, 25 * kMB / 2, 25 * kMB, 50 * kMB}) b->Arg(size);
  b->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
}
BENCHMARK(BM_LargeTemplateAspCode)->Apply(Sizes);
BENCHMARK(BM_LargeTemplateExecuteCode)->Apply(Sizes);

}  // namespace
}  // namespace vz

BENCHMARK_MAIN();
