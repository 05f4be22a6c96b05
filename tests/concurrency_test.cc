// Several threads, each with its own Page and its own connection, generating
// pages at once: every result is the one a single thread gets, and nothing
// is shared that would need a lock. The ThreadSanitizer build runs these.
//
// The normal run is short; VZ_LONG_TESTS=1 makes each thread work for a
// minute and checks that memory stops growing after the first seconds.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "component/page_ptr.h"
#include "platform/ado/open.h"
#include "tests/store_fixture.h"

namespace vz {
namespace {

using testing::RunSql;
using testing::TempDir;
using testing::WriteBytes;

// Resident memory of the process in bytes.
size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

class ConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = dir_ / "site.db";
    std::filesystem::create_directories(dir_ / "tmpl");
    std::string sql =
        "CREATE TABLE web_templet (page_id INTEGER, tset_id INTEGER, tmpl_file TEXT);\n"
        "CREATE TABLE web_page2func (page_id INTEGER, FunID INTEGER);\n"
        "CREATE TABLE web_tag (tag_name TEXT, FunID INTEGER, tag_note TEXT, tag_code TEXT);\n"
        "INSERT INTO web_tag VALUES ('box', NULL, '', 'B w' || char(13,10) || '[data]' || "
        "char(13,10) || 'E');\n"
        "INSERT INTO web_tag VALUES ('t', 1, '', 'Response.Write T');\n"
        "INSERT INTO web_page2func VALUES (2, 1);\n";
    for (int page = 1; page <= kPages; ++page) {
      sql += "INSERT INTO web_templet VALUES (" + std::to_string(page) + ", 1, 'p" +
             std::to_string(page) + ".html');\n";
      std::string body = "<h1>" + std::to_string(page) + "</h1>\r\n";
      for (int i = 0; i < page * 20; ++i) body += "<!--box w=1-->x\"<!--t--><!--/box-->\r\n";
      WriteBytes(dir_ / ("tmpl/p" + std::to_string(page) + ".html"), body);
    }
    // A page whose file is missing: a logged failure on every call.
    sql += "INSERT INTO web_templet VALUES (99, 1, 'missing.html');\n";
    RunSql(db_, sql);
  }

  // The code of every page as one thread makes it.
  std::vector<Text> Expected(bool execute) {
    com::Ref<ado::DatabaseConnection> conn = ado::OpenConnection(FromUtf8(db_));
    PagePtr page = PagePtr::Create();
    page.PutRefConnection(conn.get());
    page.PutTempletRoot(FromUtf8(dir_ / "tmpl"));
    std::vector<Text> codes;
    for (int p = 1; p <= kPages; ++p) {
      Text id = DecimalText(p);
      codes.push_back(execute ? page.CreateExecuteCode(u"1", id) : page.CreateAspCode(u"1", id));
    }
    EXPECT_EQ(page.GetErrors(), u"");
    return codes;
  }

  static constexpr int kPages = 6;
  TempDir dir_;
  std::string db_;
};

TEST_F(ConcurrencyTest, EightThreadsEachWithItsOwnPageAgreeWithOne) {
  const std::vector<Text> asp = Expected(false);
  const std::vector<Text> exec = Expected(true);
  const bool long_mode = std::getenv("VZ_LONG_TESTS") != nullptr;
  const auto run_for = std::chrono::seconds(long_mode ? 60 : 0);
  const int min_rounds = long_mode ? 1 : 25;
  std::atomic<int> mismatches{0};
  std::atomic<int> missing_logged{0};
  std::atomic<long> pages_done{0};
  size_t resident_after_warmup = 0;

  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      // Each thread's own objects, made and used only here.
      com::Ref<ado::DatabaseConnection> conn = ado::OpenConnection(FromUtf8(db_));
      for (int round = 0; round < min_rounds || std::chrono::steady_clock::now() - start < run_for;
           ++round) {
        PagePtr page = PagePtr::Create();
        page.PutRefConnection(conn.get());
        page.PutTempletRoot(FromUtf8(dir_ / "tmpl"));
        for (int p = 1; p <= kPages; ++p) {
          const bool execute = (p + t + round) % 2 == 0;
          Text code = execute ? page.CreateExecuteCode(u"1", DecimalText(p))
                              : page.CreateAspCode(u"1", DecimalText(p));
          if (code != (execute ? exec : asp)[static_cast<size_t>(p - 1)]) ++mismatches;
          ++pages_done;
        }
        if (page.CreateAspCode(u"1", u"99").empty() &&
            page.GetErrors().find(u"[53] File not found") != Text::npos)
          ++missing_logged;
        if (t == 0 && resident_after_warmup == 0 &&
            std::chrono::steady_clock::now() - start > std::chrono::seconds(10))
          resident_after_warmup = ResidentBytes();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_GE(pages_done.load(), 8L * min_rounds * kPages);
  EXPECT_GE(missing_logged.load(), 8 * min_rounds);
  EXPECT_EQ(ado::LiveRecordsets(), 0);
  if (long_mode && resident_after_warmup != 0) {
    const size_t growth =
        ResidentBytes() > resident_after_warmup ? ResidentBytes() - resident_after_warmup : 0;
    EXPECT_LT(growth, size_t{16} << 20) << "resident memory grew after warm-up";
    std::printf("pages generated: %ld; resident growth after warm-up: %zu KB\n", pages_done.load(),
                growth / 1024);
  }
}

}  // namespace
}  // namespace vz
