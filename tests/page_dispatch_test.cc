// Late-bound calls on a Page, as a script host makes them.

#include <gtest/gtest.h>

#include <vector>

#include "component/page.h"
#include "component/page_members.h"
#include "platform/com/bstr.h"
#include "platform/com/error_info.h"
#include "store/error_log.h"
#include "tests/page_test_peer.h"
#include "tests/test_doubles.h"

namespace vz {

namespace {

using namespace com;
using testing::CountingConnection;
using testing::PlainObject;

VARIANT TextArg(const char16_t* text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

VARIANT IntArg(int32_t n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}

VARIANT ObjectArg(VARTYPE vt, IUnknown* object) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  v.punkVal = object;  // borrowed: the caller keeps its reference
  return v;
}

class PageDispatchTest : public ::testing::Test {
 protected:
  void SetUp() override { page_ = Page::Create(); }
  void TearDown() override {
    for (VARIANT& v : owned_) {
      if (v.vt == VT_BSTR) VariantClear(&v);
    }
    ClearErrorInfo();
    EXPECT_EQ(page_->Release(), 0u);
  }

  // Invokes with `args` given in declaration order (reversed into rgvarg).
  HRESULT Call(DISPID dispid, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr,
               bool named_put = false, UINT* arg_err = nullptr) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    for (VARIANT& v : args) owned_.push_back(v);
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), named_put ? &put : nullptr,
                      static_cast<UINT>(reversed.size()), named_put ? 1u : 0u};
    return page_->Invoke(dispid, IID_NULL, 0, flags, &params, result, nullptr, arg_err);
  }

  ULONG Refs() {
    page_->AddRef();
    return page_->Release();
  }

  Page* page_ = nullptr;
  std::vector<VARIANT> owned_;
  CountingConnection conn_;  // outlives the page, which may hold it in TearDown
};

TEST_F(PageDispatchTest, NamesMapToTheirIdentifiersWhateverTheCase) {
  struct Case {
    const char16_t* name;
    DISPID dispid;
  } cases[] = {
      {u"Connection", 0x68030002},        {u"Errors", 0x68030001},
      {u"TempletRoot", 0x68030000},       {u"CreateAspCode", 0x60030006},
      {u"CreateExecuteCode", 0x60030007}, {u"errors", 0x68030001},
      {u"TEMPLETROOT", 0x68030000},       {u"createaspcode", 0x60030006},
  };
  for (const Case& c : cases) {
    OLECHAR* names[] = {const_cast<OLECHAR*>(c.name)};
    DISPID id = 0;
    EXPECT_EQ(page_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << ToUtf8(c.name);
    EXPECT_EQ(id, c.dispid) << ToUtf8(c.name);
  }
}

TEST_F(PageDispatchTest, ParameterNamesAndUnknownNames) {
  OLECHAR* names[] = {const_cast<OLECHAR*>(u"CreateExecuteCode"), const_cast<OLECHAR*>(u"pageid"),
                      const_cast<OLECHAR*>(u"TempletSetID")};
  DISPID ids[3] = {};
  EXPECT_EQ(page_->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 0x60030007);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], 0);

  OLECHAR* bad_param[] = {const_cast<OLECHAR*>(u"CreateAspCode"), const_cast<OLECHAR*>(u"Root")};
  EXPECT_EQ(page_->GetIDsOfNames(IID_NULL, bad_param, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 0x60030006);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);

  for (const char16_t* name : {u"Create", u"CreateAspCodeX", u"", u"Errors "}) {
    OLECHAR* one[] = {const_cast<OLECHAR*>(name)};
    DISPID id = 0;
    EXPECT_EQ(page_->GetIDsOfNames(IID_NULL, one, 1, 0, &id), DISP_E_UNKNOWNNAME) << ToUtf8(name);
    EXPECT_EQ(id, DISPID_UNKNOWN);
  }
  OLECHAR* errors[] = {const_cast<OLECHAR*>(u"Errors")};
  DISPID id = 0;
  EXPECT_EQ(page_->GetIDsOfNames(IID_IDispatch, errors, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);
}

TEST_F(PageDispatchTest, TableListsTheFiveMembersInInterfaceOrder) {
  auto members = PageMembers();
  ASSERT_EQ(members.size(), 5u);
  struct Expected {
    const char16_t* name;
    INVOKEKIND kind;
    size_t params;
    VARTYPE result;
  } expected[] = {
      {u"Connection", INVOKE_PROPERTYPUTREF, 1, VT_VOID},
      {u"Errors", INVOKE_PROPERTYGET, 0, VT_BSTR},
      {u"TempletRoot", INVOKE_PROPERTYPUT, 1, VT_VOID},
      {u"CreateAspCode", INVOKE_FUNC, 2, VT_BSTR},
      {u"CreateExecuteCode", INVOKE_FUNC, 2, VT_BSTR},
  };
  for (size_t i = 0; i < 5; ++i) {
    const MemberDescription& m = members[i].description;
    EXPECT_EQ(TextView(m.name), expected[i].name);
    EXPECT_EQ(m.kind, expected[i].kind);
    EXPECT_EQ(m.params.size(), expected[i].params);
    EXPECT_EQ(m.result, expected[i].result);
  }
  EXPECT_EQ(members[0].description.params[0].name, nullptr);
  EXPECT_EQ(members[2].description.params[0].type, VT_BSTR | VT_BYREF);
  EXPECT_EQ(TextView(members[4].description.params[1].name), u"PageID");
}

TEST_F(PageDispatchTest, TypeInformationDescribesTheInterface) {
  UINT count = 0;
  ASSERT_EQ(page_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(page_->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
  ASSERT_EQ(page_->GetTypeInfo(0, 0, &info), S_OK);

  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(attr->guid == IID__Page);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_EQ(attr->cFuncs, 5);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE |
                                  TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
  EXPECT_EQ(attr->wMajorVerNum, 9);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  info->ReleaseTypeAttr(attr);

  FUNCDESC* func = nullptr;
  ASSERT_EQ(info->GetFuncDesc(3, &func), S_OK);
  EXPECT_EQ(func->memid, 0x60030006);
  EXPECT_EQ(func->invkind, INVOKE_FUNC);
  EXPECT_EQ(func->cParams, 2);
  EXPECT_EQ(func->lprgelemdescParam[1].tdesc.vt, VT_BSTR);
  EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_BSTR);
  info->ReleaseFuncDesc(func);
  ASSERT_EQ(info->GetFuncDesc(0, &func), S_OK);
  EXPECT_EQ(func->invkind, INVOKE_PROPERTYPUTREF);
  EXPECT_EQ(func->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
  info->ReleaseFuncDesc(func);
  EXPECT_EQ(info->GetFuncDesc(5, &func), TYPE_E_ELEMENTNOTFOUND);

  BSTR names[4] = {};
  UINT got = 0;
  ASSERT_EQ(info->GetNames(0x60030007, names, 4, &got), S_OK);
  ASSERT_EQ(got, 3u);
  EXPECT_EQ(BstrView(names[0]), u"CreateExecuteCode");
  EXPECT_EQ(BstrView(names[1]), u"TempletSetID");
  EXPECT_EQ(BstrView(names[2]), u"PageID");
  for (UINT i = 0; i < got; ++i) SysFreeString(names[i]);
  ASSERT_EQ(info->GetNames(kDispIdTempletRoot, names, 4, &got), S_OK);
  EXPECT_EQ(got, 1u) << "a property's parameter is unnamed";
  SysFreeString(names[0]);

  BSTR name = nullptr;
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(BstrView(name), u"_Page");
  SysFreeString(name);

  // Invoking through the type information reaches the same members.
  OLECHAR* member[] = {const_cast<OLECHAR*>(u"templetroot")};
  MEMBERID id = 0;
  ASSERT_EQ(info->GetIDsOfNames(member, 1, &id), S_OK);
  VARIANT value = TextArg(u"root");
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &put, 1, 1};
  EXPECT_EQ(info->Invoke(static_cast<_Page*>(page_), id, DISPATCH_PROPERTYPUT, &params, nullptr,
                         nullptr, nullptr),
            S_OK);
  VariantClear(&value);
  EXPECT_EQ(PageTestPeer::TempletRoot(*page_), u"root\\");
  EXPECT_EQ(info->Release(), 0u);
}

TEST_F(PageDispatchTest, ErrorsIsReadAsAPropertyOrAMethod) {
  AppendError(PageTestPeer::Errors(*page_), u"x");
  for (WORD flags : {DISPATCH_PROPERTYGET, DISPATCH_METHOD,
                     static_cast<WORD>(DISPATCH_METHOD | DISPATCH_PROPERTYGET)}) {
    VARIANT result;
    result.vt = VT_I4;  // stale content is overwritten
    ASSERT_EQ(Call(kDispIdErrors, flags, {}, &result), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(BstrView(result.bstrVal), PageTestPeer::Errors(*page_));
    VariantClear(&result);
  }
  // A caller that wants no result gets none and leaks nothing.
  EXPECT_EQ(Call(kDispIdErrors, DISPATCH_PROPERTYGET, {}, nullptr), S_OK);
}

TEST_F(PageDispatchTest, WrongKindsAreMemberNotFound) {
  struct Case {
    DISPID dispid;
    WORD flags;
    size_t args;
  } cases[] = {
      {kDispIdErrors, DISPATCH_PROPERTYPUT, 1},
      {kDispIdErrors, DISPATCH_PROPERTYPUTREF, 1},
      {kDispIdTempletRoot, DISPATCH_PROPERTYGET, 0},
      {kDispIdTempletRoot, DISPATCH_PROPERTYPUTREF, 1},
      {kDispIdTempletRoot, DISPATCH_METHOD, 1},
      {kDispIdConnection, DISPATCH_PROPERTYPUT, 1},
      {kDispIdConnection, DISPATCH_PROPERTYGET, 0},
      {kDispIdCreateAspCode, DISPATCH_PROPERTYPUT, 2},
      {0x60030008, DISPATCH_METHOD, 0},
      {0, DISPATCH_PROPERTYGET, 0},
      {DISPID_UNKNOWN, DISPATCH_METHOD, 0},
  };
  for (const Case& c : cases) {
    std::vector<VARIANT> args;
    for (size_t i = 0; i < c.args; ++i) args.push_back(TextArg(u"a"));
    EXPECT_EQ(Call(c.dispid, c.flags, args), DISP_E_MEMBERNOTFOUND)
        << std::hex << c.dispid << " flags " << c.flags;
  }
  EXPECT_EQ(PageTestPeer::TempletRoot(*page_), u"");
}

TEST_F(PageDispatchTest, WrongArgumentCountsAreBadParamCount) {
  EXPECT_EQ(Call(kDispIdErrors, DISPATCH_PROPERTYGET, {TextArg(u"a")}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(kDispIdTempletRoot, DISPATCH_PROPERTYPUT, {}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(kDispIdTempletRoot, DISPATCH_PROPERTYPUT, {TextArg(u"a"), TextArg(u"b")}),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(kDispIdCreateAspCode, DISPATCH_METHOD, {TextArg(u"1")}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(kDispIdCreateExecuteCode, DISPATCH_METHOD,
                 {TextArg(u"1"), TextArg(u"2"), TextArg(u"3")}),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(kDispIdConnection, DISPATCH_PROPERTYPUTREF, {}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(page_->Invoke(kDispIdErrors, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, nullptr,
                          nullptr, nullptr),
            S_OK);
}

TEST_F(PageDispatchTest, NamedArgumentsOnlyForTheValueOfAPut) {
  EXPECT_EQ(Call(kDispIdTempletRoot, DISPATCH_PROPERTYPUT, {TextArg(u"a")}, nullptr, true), S_OK);
  EXPECT_EQ(PageTestPeer::TempletRoot(*page_), u"a\\");
  EXPECT_EQ(Call(kDispIdTempletRoot, DISPATCH_PROPERTYPUT, {TextArg(u"b")}, nullptr, false), S_OK);
  EXPECT_EQ(PageTestPeer::TempletRoot(*page_), u"b\\");
  VARIANT args[2] = {TextArg(u"2"), TextArg(u"1")};
  DISPID named[] = {0};
  DISPPARAMS params{args, named, 2, 1};
  EXPECT_EQ(page_->Invoke(kDispIdCreateAspCode, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr,
                          nullptr, nullptr),
            DISP_E_NONAMEDARGS);
  VariantClear(&args[0]);
  VariantClear(&args[1]);
  VARIANT value = TextArg(u"c");
  DISPID wrong[] = {0};
  DISPPARAMS put{&value, wrong, 1, 1};
  EXPECT_EQ(page_->Invoke(kDispIdTempletRoot, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr,
                          nullptr, nullptr),
            DISP_E_NONAMEDARGS);
  VariantClear(&value);
  EXPECT_EQ(PageTestPeer::TempletRoot(*page_), u"b\\");
}

TEST_F(PageDispatchTest, TempletRootConvertsValuesAsAutomationDoes) {
  BSTR by_ref_text = SysAllocString(u"byref");
  VARIANT inner = TextArg(u"inner");
  struct Case {
    VARIANT arg;
    const char16_t* stored;
  };
  VARIANT ref_bstr;
  VariantInit(&ref_bstr);
  ref_bstr.vt = VT_BSTR | VT_BYREF;
  ref_bstr.pbstrVal = &by_ref_text;
  VARIANT ref_variant;
  VariantInit(&ref_variant);
  ref_variant.vt = VT_VARIANT | VT_BYREF;
  ref_variant.pvarVal = &inner;
  VARIANT empty;
  VariantInit(&empty);
  VARIANT real;
  VariantInit(&real);
  real.vt = VT_R8;
  real.dblVal = 2.5;
  // Reals as every other part of the system writes them: 15 digits, no -0.
  VARIANT sum;
  VariantInit(&sum);
  sum.vt = VT_R8;
  sum.dblVal = 0.1 + 0.2;
  VARIANT negative_zero;
  VariantInit(&negative_zero);
  negative_zero.vt = VT_R8;
  negative_zero.dblVal = -0.0;
  VARIANT truth;
  VariantInit(&truth);
  truth.vt = VT_BOOL;
  truth.boolVal = VARIANT_TRUE;
  VARIANT small;
  VariantInit(&small);
  small.vt = VT_I2;
  small.iVal = -7;
  const Case cases[] = {
      {IntArg(12), u"12\\"}, {ref_bstr, u"byref\\"}, {ref_variant, u"inner\\"},
      {empty, u"\\"},        {real, u"2.5\\"},       {truth, u"True\\"},
      {small, u"-7\\"},      {sum, u"0.3\\"},        {negative_zero, u"0\\"},
  };
  for (const Case& c : cases) {
    VARIANT arg = c.arg;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &put, 1, 1};
    ASSERT_EQ(page_->Invoke(kDispIdTempletRoot, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr,
                            nullptr, nullptr),
              S_OK);
    EXPECT_EQ(PageTestPeer::TempletRoot(*page_), c.stored);
  }
  EXPECT_EQ(BstrView(by_ref_text), u"byref") << "a by-reference argument is not changed";
  SysFreeString(by_ref_text);
  VariantClear(&inner);
}

TEST_F(PageDispatchTest, ValuesThatAreNoTextAreTypeMismatchWithTheirPosition) {
  VARIANT null_value;
  VariantInit(&null_value);
  null_value.vt = VT_NULL;
  PlainObject object;
  UINT arg_err = 99;
  EXPECT_EQ(Call(kDispIdTempletRoot, DISPATCH_PROPERTYPUT, {null_value}, nullptr, true, &arg_err),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_err, 0u);
  EXPECT_EQ(PageTestPeer::TempletRoot(*page_), u"");
  // The second parameter sits first in rgvarg.
  arg_err = 99;
  EXPECT_EQ(Call(kDispIdCreateAspCode, DISPATCH_METHOD, {TextArg(u"1"), null_value}, nullptr, false,
                 &arg_err),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_err, 0u);
  arg_err = 99;
  EXPECT_EQ(Call(kDispIdCreateExecuteCode, DISPATCH_METHOD,
                 {ObjectArg(VT_UNKNOWN, &object), TextArg(u"1")}, nullptr, false, &arg_err),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_err, 1u);
  VARIANT null_ref;
  VariantInit(&null_ref);
  null_ref.vt = VT_BSTR | VT_BYREF;
  EXPECT_EQ(Call(kDispIdTempletRoot, DISPATCH_PROPERTYPUT, {null_ref}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(object.refs, 0);
}

TEST_F(PageDispatchTest, ConnectionTakesConnectionObjectsOnly) {
  CountingConnection& conn = conn_;
  const ULONG start = Refs();
  ASSERT_EQ(Call(kDispIdConnection, DISPATCH_PROPERTYPUTREF, {ObjectArg(VT_UNKNOWN, &conn)}), S_OK);
  EXPECT_EQ(conn.refs(), 1);
  ASSERT_EQ(Call(kDispIdConnection, DISPATCH_PROPERTYPUTREF, {ObjectArg(VT_DISPATCH, &conn)}),
            S_OK);
  EXPECT_EQ(conn.refs(), 1);

  // By reference, as a script passes a variable.
  IUnknown* held = &conn;
  VARIANT by_ref;
  VariantInit(&by_ref);
  by_ref.vt = VT_UNKNOWN | VT_BYREF;
  by_ref.ppunkVal = &held;
  ASSERT_EQ(Call(kDispIdConnection, DISPATCH_PROPERTYPUTREF, {by_ref}), S_OK);
  EXPECT_EQ(conn.refs(), 1);

  PlainObject not_a_connection;
  UINT arg_err = 99;
  EXPECT_EQ(Call(kDispIdConnection, DISPATCH_PROPERTYPUTREF,
                 {ObjectArg(VT_UNKNOWN, &not_a_connection)}, nullptr, false, &arg_err),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_err, 0u);
  EXPECT_EQ(not_a_connection.refs, 0);
  EXPECT_EQ(Call(kDispIdConnection, DISPATCH_PROPERTYPUTREF, {TextArg(u"db")}),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(conn.refs(), 1) << "a refused value leaves the connection in place";

  // Nothing: a null object reference.
  ASSERT_EQ(Call(kDispIdConnection, DISPATCH_PROPERTYPUTREF, {ObjectArg(VT_DISPATCH, nullptr)}),
            S_OK);
  EXPECT_EQ(conn.refs(), 0);
  EXPECT_EQ(Refs(), start);
}

// A failure status from a member reaches a late-bound caller as an
// exception carrying the member's status and description.
TEST(PageDispatch, MemberFailureIsReportedAsAnException) {
  testing::FailingPage failing;
  failing.status = MakeHResult(0x800A0005);
  failing.description = u"bad root";
  VARIANT args[2] = {TextArg(u"12"), TextArg(u"1")};
  DISPPARAMS params{args, nullptr, 2, 0};
  EXCEPINFO info{};
  VARIANT result;
  EXPECT_EQ(InvokePageMember(failing, kDispIdCreateAspCode, DISPATCH_METHOD, &params, &result,
                             &info, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(info.scode, MakeHResult(0x800A0005));
  EXPECT_EQ(BstrView(info.bstrSource), u"Vantrel_VaviZar.Page");
  EXPECT_EQ(BstrView(info.bstrDescription), u"bad root");
  EXPECT_EQ(result.vt, VT_EMPTY);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);

  // Without error information the run-time's text for the number is used;
  // without an EXCEPINFO the status alone comes back.
  failing.description.clear();
  info = EXCEPINFO{};
  DISPPARAMS put{&args[0], nullptr, 1, 0};
  EXPECT_EQ(InvokePageMember(failing, kDispIdTempletRoot, DISPATCH_PROPERTYPUT, &put, nullptr,
                             &info, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(BstrView(info.bstrDescription), u"Invalid procedure call or argument");
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  failing.description = u"left behind";
  EXPECT_EQ(InvokePageMember(failing, kDispIdErrors, DISPATCH_PROPERTYGET, nullptr, nullptr,
                             nullptr, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(TakeErrorInfo(), u"") << "error information is not left for the next call";
  VariantClear(&args[0]);
  VariantClear(&args[1]);
  EXPECT_EQ(failing.refs, 0u);
}

TEST_F(PageDispatchTest, ReferencesComeBackAfterEveryCall) {
  const ULONG start = Refs();
  Call(kDispIdErrors, DISPATCH_PROPERTYGET, {});
  Call(kDispIdErrors, DISPATCH_PROPERTYPUT, {TextArg(u"a")});
  Call(kDispIdTempletRoot, DISPATCH_PROPERTYPUT, {TextArg(u"a")});
  Call(kDispIdCreateAspCode, DISPATCH_METHOD, {TextArg(u"1"), TextArg(u"2")});
  Call(kDispIdCreateAspCode, DISPATCH_METHOD, {TextArg(u"1")});
  EXPECT_EQ(Refs(), start);
  EXPECT_EQ(page_->Invoke(kDispIdErrors, IID_IUnknown, 0, DISPATCH_PROPERTYGET, nullptr, nullptr,
                          nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

}  // namespace
}  // namespace vz
