// Allocation failures, in the manner of a fault sweep: the Nth allocation a
// thread makes through operator new fails (once, or from then on), for
// N = 1, 2, ... until a page is made without reaching it. Every run must end
// with the page's right code, or with an empty code and a log line, or with
// a failure status the wrapper raises; the object must stay usable, and no
// descriptor, record set, stream or reference may be left behind.
//
// This file replaces the global operator new and delete of the test binary;
// they count and fail only while a sweep has armed them on its own thread.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "component/page_ptr.h"
#include "platform/ado/fault.h"
#include "platform/ado/open.h"
#include "platform/failure.h"
#include "platform/fso/fault.h"
#include "platform/fso/file_system.h"
#include "tests/store_fixture.h"

namespace {

thread_local bool t_armed = false;
thread_local bool t_persistent = false;
thread_local bool t_fired = false;
thread_local int64_t t_fail_at = 0;
thread_local int64_t t_count = 0;

// Whether this allocation is the one to fail.
bool FailThisOne() {
  if (!t_armed) return false;
  ++t_count;
  if (t_count == t_fail_at || (t_persistent && t_count > t_fail_at)) {
    t_fired = true;
    return true;
  }
  return false;
}

void* Allocate(std::size_t size) {
  if (FailThisOne()) throw std::bad_alloc();
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* AllocateNoThrow(std::size_t size) noexcept {
  if (FailThisOne()) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateNoThrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateNoThrow(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace vz {
namespace {

using testing::Entries;
using testing::OpenDescriptors;
using testing::References;
using testing::RunSql;
using testing::TempDir;
using testing::WriteBytes;

class FaultSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = dir_ / "site.db";
    std::filesystem::create_directories(dir_ / "tmpl");
    RunSql(db_,
           "CREATE TABLE web_templet (page_id INTEGER, tset_id INTEGER, tmpl_file TEXT);\n"
           "CREATE TABLE web_page2func (page_id INTEGER, FunID INTEGER);\n"
           "CREATE TABLE web_tag (tag_name TEXT, FunID INTEGER, tag_note TEXT, tag_code TEXT);\n"
           "INSERT INTO web_templet VALUES (1, 1, 'p.html');\n"
           "INSERT INTO web_tag VALUES ('box', NULL, '', 'B w, h' || char(13,10) || '[data]' || "
           "char(13,10) || 'E');\n"
           "INSERT INTO web_tag VALUES ('t', NULL, '', 'T');\n");
    WriteBytes(dir_ / "tmpl/p.html",
               "<p><!--t--></p>\r\n<!--box w=1&h=2-->\"x\"<!--/box-->\r\n<%=y%>");
    conn_ = ado::OpenConnection(FromUtf8(db_));
  }

  PagePtr NewPage() {
    PagePtr page = PagePtr::Create();
    page.PutRefConnection(conn_.get());
    page.PutTempletRoot(FromUtf8(dir_ / "tmpl"));
    return page;
  }

  // Sweeps N = 1, 2, ... over one call; returns how many runs it took.
  int Sweep(bool execute, bool persistent) {
    PagePtr page = NewPage();
    const Text expected =
        execute ? page.CreateExecuteCode(u"1", u"1") : page.CreateAspCode(u"1", u"1");
    EXPECT_FALSE(expected.empty());
    const int descriptors = OpenDescriptors();
    const unsigned conn_refs = References(conn_.get());
    for (int n = 1; n < 100000; ++n) {
      const size_t log_before = page.GetErrors().size();
      Text code;
      bool raised = false;
      t_count = 0;
      t_fail_at = n;
      t_persistent = persistent;
      t_fired = false;
      t_armed = true;
      try {
        code = execute ? page.CreateExecuteCode(u"1", u"1") : page.CreateAspCode(u"1", u"1");
      } catch (...) {
        raised = true;
      }
      t_armed = false;
      SCOPED_TRACE("allocation " + std::to_string(n) + (persistent ? " onwards" : ""));
      if (!t_fired) {
        EXPECT_FALSE(raised);
        EXPECT_EQ(code, expected);
        return n;
      }
      // The right code, or nothing with a reason: a log line or a raised
      // failure status.
      const Text added = page.GetErrors().substr(log_before);
      if (code != expected) {
        const bool empty = execute ? code == u"Response.Write \"\"" || code.empty() : code.empty();
        EXPECT_TRUE(empty) << ToUtf8(code);
        EXPECT_TRUE(raised || !Entries(added).empty());
      }
      for (const Text& entry : Entries(added)) {
        EXPECT_EQ(entry, u"[7] Out of memory");
      }
      // Nothing left behind, and the object still works.
      EXPECT_EQ(OpenDescriptors(), descriptors);
      EXPECT_EQ(References(conn_.get()), conn_refs);
      EXPECT_EQ(ado::LiveRecordsets(), 0);
      EXPECT_EQ(fso::LiveTextStreams(), 0);
      EXPECT_EQ(execute ? page.CreateExecuteCode(u"1", u"1") : page.CreateAspCode(u"1", u"1"),
                expected);
    }
    ADD_FAILURE() << "the sweep did not end";
    return 0;
  }

  TempDir dir_;
  std::string db_;
  com::Ref<ado::DatabaseConnection> conn_;
};

// The same sweep over the calls a page makes to the database and to the
// file system: each failed call gives an empty code and exactly one log line
// with the failure the layer reports, and leaves nothing behind.
TEST_F(FaultSweep, EveryFailedDatabaseOrFileCallIsLoggedOnce) {
  struct Layer {
    const char* name;
    void (*fail_nth)(int64_t);
    bool (*fired)();
  } layers[] = {{"database", ado::FailNthCall, ado::FaultFired},
                {"file", fso::FailNthCall, fso::FaultFired}};
  for (const Layer& layer : layers) {
    PagePtr page = NewPage();
    const Text expected = page.CreateAspCode(u"1", u"1");
    const int descriptors = OpenDescriptors();
    const unsigned conn_refs = References(conn_.get());
    int n = 1;
    for (;; ++n) {
      SCOPED_TRACE(std::string(layer.name) + " call " + std::to_string(n));
      const size_t log_before = page.GetErrors().size();
      layer.fail_nth(n);
      const Text code = page.CreateAspCode(u"1", u"1");
      const bool fired = layer.fired();
      layer.fail_nth(0);
      const std::vector<Text> added = Entries(page.GetErrors().substr(log_before));
      if (!fired) {
        EXPECT_EQ(code, expected);
        EXPECT_TRUE(added.empty());
        break;
      }
      // A failed close after the template was read keeps its text: the
      // routine that closes logs the failure and goes on with the text.
      EXPECT_TRUE(code.empty() || code == expected) << ToUtf8(code);
      ASSERT_EQ(added.size(), 1u);
      EXPECT_TRUE(added[0].rfind(u"[-2147467259] ", 0) == 0 || added[0] == u"[57] Device I/O error")
          << ToUtf8(added[0]);
      EXPECT_EQ(OpenDescriptors(), descriptors);
      EXPECT_EQ(References(conn_.get()), conn_refs);
      EXPECT_EQ(ado::LiveRecordsets(), 0);
      EXPECT_EQ(fso::LiveTextStreams(), 0);
      ASSERT_LT(n, 100);
    }
    std::printf("%s calls: %d failed one at a time\n", layer.name, n - 1);
    EXPECT_GT(n, 2);
  }
}

TEST_F(FaultSweep, ServerPageCodeSurvivesEveryFailedAllocation) {
  const int once = Sweep(false, false);
  const int onwards = Sweep(false, true);
  EXPECT_GT(once, 20);
  EXPECT_GT(onwards, 20);
  std::printf("server-page code: %d allocations failed once, %d from then on\n", once - 1,
              onwards - 1);
}

TEST_F(FaultSweep, ExecuteCodeSurvivesEveryFailedAllocation) {
  const int once = Sweep(true, false);
  const int onwards = Sweep(true, true);
  EXPECT_GT(once, 20);
  EXPECT_GT(onwards, 20);
  std::printf("execute code: %d allocations failed once, %d from then on\n", once - 1, onwards - 1);
}

}  // namespace
}  // namespace vz
