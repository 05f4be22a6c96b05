#include "component/page.h"

#include <gtest/gtest.h>

#include "component/page_ptr.h"
#include "platform/com/bstr.h"
#include "platform/com/error_info.h"
#include "platform/failure.h"
#include "store/error_log.h"
#include "tests/page_test_peer.h"
#include "tests/test_doubles.h"

namespace vz {

namespace {

using com::BSTR;
using testing::CountingConnection;
using testing::FailingPage;

// The object's reference count, read without changing it.
com::ULONG RefCount(_Page* page) {
  page->AddRef();
  return page->Release();
}

// A fresh page, released when the test ends.
class PageTest : public ::testing::Test {
 protected:
  void SetUp() override { page_ = Page::Create(); }
  void TearDown() override {
    if (page_ != nullptr) {
      EXPECT_EQ(page_->Release(), 0u);
    }
  }

  com::HRESULT SetConnection(ado::Connection* conn) {
    ado::Connection* arg = conn;
    com::HRESULT hr = page_->putref_Connection(&arg);
    EXPECT_EQ(arg, conn) << "the caller's reference must not change";
    return hr;
  }

  Text Errors() {
    BSTR errors = nullptr;
    EXPECT_EQ(page_->get_Errors(&errors), com::S_OK);
    Text text(com::BstrView(errors));
    com::SysFreeString(errors);
    return text;
  }

  Page* page_ = nullptr;
  // Outlive the page, which may still hold one of them in TearDown.
  CountingConnection first_, second_;
};

TEST_F(PageTest, FreshObjectHasEmptyLogAndOneReference) {
  EXPECT_EQ(RefCount(page_), 1u);
  EXPECT_EQ(Errors(), u"");
  EXPECT_EQ(PageTestPeer::TempletRoot(*page_), u"");
  EXPECT_EQ(PageTestPeer::Conn(*page_), nullptr);
}

TEST_F(PageTest, AnswersItsThreeInterfacesOnly) {
  for (const com::IID& iid : {com::IID_IUnknown, com::IID_IDispatch, IID__Page}) {
    void* object = nullptr;
    ASSERT_EQ(page_->QueryInterface(iid, &object), com::S_OK);
    EXPECT_EQ(object, static_cast<_Page*>(page_));
    EXPECT_EQ(RefCount(page_), 2u);
    page_->Release();
  }
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(page_->QueryInterface(com::IID_IClassFactory, &object), com::E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(page_->QueryInterface(ado::IID_Connection, &object), com::E_NOINTERFACE);
  EXPECT_EQ(page_->QueryInterface(com::IID_IUnknown, nullptr), com::E_POINTER);
  EXPECT_EQ(RefCount(page_), 1u);
}

TEST_F(PageTest, ConnectionSetTwiceToDifferentConnectionsReleasesTheFirstOnce) {
  CountingConnection& first = first_;
  CountingConnection& second = second_;
  EXPECT_EQ(SetConnection(&first), com::S_OK);
  EXPECT_EQ(first.refs(), 1);
  EXPECT_EQ(SetConnection(&second), com::S_OK);
  EXPECT_EQ(first.refs(), 0);
  EXPECT_EQ(first.releases, 1);
  EXPECT_EQ(second.refs(), 1);
  EXPECT_EQ(PageTestPeer::Conn(*page_), &second);
  page_->Release();
  page_ = nullptr;
  EXPECT_EQ(second.refs(), 0);
  EXPECT_EQ(second.releases, 1);
}

TEST_F(PageTest, ConnectionSetTwiceToTheSameConnectionHoldsOneReference) {
  CountingConnection& conn = first_;
  SetConnection(&conn);
  SetConnection(&conn);
  EXPECT_EQ(conn.refs(), 1);
  // The new reference is taken before the old one goes, so the count never
  // touches zero on the way.
  int lowest = 1;
  conn.on_release = [&] { lowest = std::min(lowest, conn.refs()); };
  SetConnection(&conn);
  conn.on_release = nullptr;
  EXPECT_EQ(lowest, 1);
  EXPECT_EQ(conn.refs(), 1);
}

TEST_F(PageTest, ConnectionSetToNoneReleasesTheHeldOne) {
  CountingConnection& conn = first_;
  SetConnection(&conn);
  EXPECT_EQ(SetConnection(nullptr), com::S_OK);
  EXPECT_EQ(conn.refs(), 0);
  EXPECT_EQ(PageTestPeer::Conn(*page_), nullptr);
  // A null pointer to the argument itself means none as well.
  SetConnection(&conn);
  EXPECT_EQ(page_->putref_Connection(nullptr), com::S_OK);
  EXPECT_EQ(conn.refs(), 0);
  EXPECT_EQ(SetConnection(nullptr), com::S_OK);
}

TEST(PageLifetime, DestroyWithoutConnectionAndWithOne) {
  Page* bare = Page::Create();
  EXPECT_EQ(bare->Release(), 0u);

  CountingConnection conn;
  Page* page = Page::Create();
  ado::Connection* arg = &conn;
  page->putref_Connection(&arg);
  EXPECT_EQ(conn.refs(), 1);
  EXPECT_EQ(page->Release(), 0u);
  EXPECT_EQ(conn.refs(), 0);
  EXPECT_EQ(conn.releases, 1);
}

// The host drops its last reference to the page from inside a member (the
// old connection's Release does it here). The member's own reference keeps
// the object alive until it returns; the sanitizer build catches the
// use-after-free that a missing reference would cause.
TEST(PageLifetime, LastReleaseDuringAMemberWaitsForTheMemberToReturn) {
  CountingConnection old_conn, new_conn;
  Page* page = Page::Create();
  ado::Connection* arg = &old_conn;
  page->putref_Connection(&arg);
  com::ULONG seen = 0;
  old_conn.on_release = [&] {
    old_conn.on_release = nullptr;
    seen = RefCount(page);  // the host's reference and the member's own
    page->Release();        // the host's last reference
  };
  arg = &new_conn;
  EXPECT_EQ(page->putref_Connection(&arg), com::S_OK);
  EXPECT_EQ(seen, 2u);
  // The object is gone now and has let go of the connection it held.
  EXPECT_EQ(old_conn.refs(), 0);
  EXPECT_EQ(new_conn.refs(), 0);
}

TEST_F(PageTest, EveryMemberGivesBackItsReferenceOnEveryPath) {
  CountingConnection& conn = first_;
  const com::ULONG start = RefCount(page_);
  SetConnection(&conn);
  EXPECT_EQ(RefCount(page_), start);
  BSTR text = nullptr;
  page_->get_Errors(&text);
  EXPECT_EQ(RefCount(page_), start);
  EXPECT_EQ(page_->get_Errors(nullptr), com::E_POINTER);
  EXPECT_EQ(RefCount(page_), start);
  com::Bstr root(u"dir");
  BSTR raw = root.get();
  page_->put_TempletRoot(&raw);
  EXPECT_EQ(RefCount(page_), start);
  EXPECT_EQ(page_->put_TempletRoot(nullptr), com::S_OK);
  EXPECT_EQ(RefCount(page_), start);
  EXPECT_EQ(page_->CreateAspCode(nullptr, nullptr, nullptr), com::E_POINTER);
  EXPECT_EQ(page_->CreateExecuteCode(nullptr, nullptr, nullptr), com::E_POINTER);
  EXPECT_EQ(RefCount(page_), start);
  EXPECT_EQ(conn.refs(), 1);
}

TEST_F(PageTest, TempletRootGetsExactlyOneTrailingBackslash) {
  struct Case {
    const char16_t* root;
    const char16_t* stored;
  } cases[] = {
      {u"", u"\\"},
      {u"\\", u"\\"},
      {u"C:\\site\\tmpl", u"C:\\site\\tmpl\\"},
      {u"C:\\site\\tmpl\\", u"C:\\site\\tmpl\\"},
      {u"/srv/site/", u"/srv/site/\\"},
      {u"/srv/site", u"/srv/site\\"},
      {u"tmpl ", u"tmpl \\"},
      {u" ", u" \\"},
      {u"\u6a21\u677f", u"\u6a21\u677f\\"},
      {u"a\\\\", u"a\\\\"},
  };
  for (const Case& c : cases) {
    com::Bstr root{TextView(c.root)};
    BSTR raw = root.get();
    ASSERT_EQ(page_->put_TempletRoot(&raw), com::S_OK);
    EXPECT_EQ(raw, root.get()) << "the caller's text must stay where it was";
    EXPECT_EQ(root.view(), TextView(c.root)) << "the caller's text must not change";
    EXPECT_EQ(PageTestPeer::TempletRoot(*page_), c.stored) << ToUtf8(c.root);
  }
  BSTR null_root = nullptr;
  page_->put_TempletRoot(&null_root);
  EXPECT_EQ(PageTestPeer::TempletRoot(*page_), u"\\");
}

TEST_F(PageTest, ErrorsIsAStableCopyInLoggingOrder) {
  EXPECT_EQ(Errors(), u"");
  Text& log = PageTestPeer::Errors(*page_);
  AppendError(log, u"first");
  try {
    Raise(kFileNotFound);
  } catch (...) {
    AppendError(log, u"");
  }
  Text once = Errors();
  Text twice = Errors();
  EXPECT_EQ(once, twice);
  size_t first = once.find(u"[Vantrel_ZozEza] first\r\n");
  size_t second = once.find(u"[53] File not found\r\n");
  ASSERT_NE(first, Text::npos);
  ASSERT_NE(second, Text::npos);
  EXPECT_LT(first, second);
  EXPECT_EQ(once.size(), second + 21);  // the second line ends the log

  // The returned text is the caller's: freeing it leaves the log alone.
  BSTR copy = nullptr;
  page_->get_Errors(&copy);
  copy[0] = u'X';
  com::SysFreeString(copy);
  EXPECT_EQ(Errors(), once);
}

TEST_F(PageTest, ResultIsSetToEmptyOnEntry) {
  // A stale value in the out-parameter is overwritten, never freed or kept.
  BSTR result = reinterpret_cast<BSTR>(0x1);
  EXPECT_EQ(page_->get_Errors(&result), com::S_OK);
  EXPECT_EQ(result, nullptr);  // the empty log is the null text
  // Without a connection the page cannot be made: an empty text, and the
  // failures are in the log.
  result = reinterpret_cast<BSTR>(0x1);
  EXPECT_EQ(page_->CreateAspCode(nullptr, nullptr, &result), com::S_OK);
  EXPECT_EQ(result, nullptr);
  result = reinterpret_cast<BSTR>(0x1);
  EXPECT_EQ(page_->CreateExecuteCode(nullptr, nullptr, &result), com::S_OK);
  EXPECT_EQ(com::BstrView(result), u"Response.Write \"\"");
  com::SysFreeString(result);
}

TEST(PagePtr, RaisesTheMembersFailureWithItsDescription) {
  FailingPage failing;
  PagePtr page(&failing);
  EXPECT_EQ(failing.refs, 1u);
  struct Case {
    com::HRESULT status;
    Text description;
    int32_t number;
    Text expected;
  } cases[] = {
      {com::MakeHResult(0x800A000E), u"", 14, u"Out of string space"},
      {com::MakeHResult(0x800A0005), u"tag <!--box at 3 has no -->", 5,
       u"tag <!--box at 3 has no -->"},
      {com::E_OUTOFMEMORY, u"", 7, u"Out of memory"},
      {com::MakeHResult(0x80040E14), u"near \"x\": syntax error", -2147217900,
       u"near \"x\": syntax error"},
      {com::E_NOTIMPL, u"", com::E_NOTIMPL, u"Error 0x80004001"},
  };
  for (const Case& c : cases) {
    failing.status = c.status;
    failing.description = c.description;
    try {
      page.CreateAspCode(u"1", u"2");
      ADD_FAILURE() << "no failure raised";
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), c.number);
      EXPECT_EQ(f.description(), c.expected);
    }
  }
  EXPECT_THROW(page.GetErrors(), Failure);
  EXPECT_THROW(page.PutTempletRoot(u"x"), Failure);
  EXPECT_THROW(page.PutRefConnection(nullptr), Failure);
  EXPECT_THROW(page.CreateExecuteCode(u"1", u"2"), Failure);
}

TEST(PagePtr, DrivesARealPage) {
  CountingConnection conn;
  {
    PagePtr page = PagePtr::Create();
    EXPECT_EQ(RefCount(page.get()), 1u);
    page.PutRefConnection(&conn);
    page.PutTempletRoot(u"/srv/tmpl");
    EXPECT_EQ(page.GetErrors(), u"");
    EXPECT_EQ(conn.refs(), 1);
  }
  EXPECT_EQ(conn.refs(), 0);
  PagePtr empty;
  try {
    empty.GetErrors();
    ADD_FAILURE() << "no failure raised";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), kObjectVariableNotSet);
  }
}

}  // namespace
}  // namespace vz
