// The Page's table of members as a C host sees it: a pointer to a table of
// plain functions that take the object as their first argument, in the
// standard slot order. Calls go through raw slot numbers, not through C++.

#include <gtest/gtest.h>

#include "component/page.h"
#include "platform/com/bstr.h"
#include "tests/page_test_peer.h"
#include "tests/test_doubles.h"

namespace vz {
namespace {

using namespace com;

struct PageTable {
  HRESULT (*QueryInterface)(void* self, const IID* riid, void** object);
  ULONG (*AddRef)(void* self);
  ULONG (*Release)(void* self);
  HRESULT (*GetTypeInfoCount)(void* self, UINT* count);
  HRESULT (*GetTypeInfo)(void* self, UINT index, LCID lcid, void** info);
  HRESULT(*GetIDsOfNames)
  (void* self, const IID* riid, OLECHAR** names, UINT count, LCID lcid, DISPID* dispids);
  HRESULT(*Invoke)
  (void* self, DISPID dispid, const IID* riid, LCID lcid, WORD flags, DISPPARAMS* params,
   VARIANT* result, EXCEPINFO* excep_info, UINT* arg_err);
  HRESULT (*putref_Connection)(void* self, void** conn);
  HRESULT (*get_Errors)(void* self, BSTR* result);
  HRESULT (*put_TempletRoot)(void* self, BSTR* root);
  HRESULT (*CreateAspCode)(void* self, BSTR set_id, BSTR page_id, BSTR* result);
  HRESULT (*CreateExecuteCode)(void* self, BSTR set_id, BSTR page_id, BSTR* result);
};

TEST(PageAbi, SlotsAreInTheStandardOrder) {
  Page* page = Page::Create();
  void* object = nullptr;
  ASSERT_EQ(page->QueryInterface(IID__Page, &object), S_OK);
  page->Release();
  const PageTable* table = *static_cast<const PageTable* const*>(object);

  EXPECT_EQ(table->AddRef(object), 2u);
  EXPECT_EQ(table->Release(object), 1u);

  void* dispatch = nullptr;
  EXPECT_EQ(table->QueryInterface(object, &IID_IDispatch, &dispatch), S_OK);
  EXPECT_EQ(dispatch, object);
  table->Release(object);

  UINT count = 99;
  EXPECT_EQ(table->GetTypeInfoCount(object, &count), S_OK);
  EXPECT_EQ(count, 1u);

  OLECHAR* names[] = {const_cast<OLECHAR*>(u"TempletRoot")};
  DISPID id = 0;
  EXPECT_EQ(table->GetIDsOfNames(object, &IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 0x68030000);

  testing::CountingConnection conn;
  void* conn_arg = static_cast<ado::Connection*>(&conn);
  EXPECT_EQ(table->putref_Connection(object, &conn_arg), S_OK);
  EXPECT_EQ(conn.refs(), 1);

  BSTR root = SysAllocString(u"site");
  EXPECT_EQ(table->put_TempletRoot(object, &root), S_OK);
  EXPECT_EQ(PageTestPeer::TempletRoot(*page), u"site\\");
  SysFreeString(root);

  BSTR errors = reinterpret_cast<BSTR>(0x1);
  EXPECT_EQ(table->get_Errors(object, &errors), S_OK);
  EXPECT_EQ(errors, nullptr);

  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(table->Invoke(object, kDispIdErrors, &IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr,
                          &result, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(result.vt, VT_BSTR);
  VariantClear(&result);

  BSTR code = reinterpret_cast<BSTR>(0x1);
  table->CreateAspCode(object, nullptr, nullptr, &code);
  EXPECT_NE(code, reinterpret_cast<BSTR>(0x1));
  SysFreeString(code);
  code = reinterpret_cast<BSTR>(0x1);
  table->CreateExecuteCode(object, nullptr, nullptr, &code);
  EXPECT_NE(code, reinterpret_cast<BSTR>(0x1));
  SysFreeString(code);

  EXPECT_EQ(table->Release(object), 0u);
  EXPECT_EQ(conn.refs(), 0);
}

}  // namespace
}  // namespace vz
