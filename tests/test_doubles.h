// Test doubles for the objects a Page is handed: a connection that counts its
// references, and a plain object that is no connection at all.

#ifndef VAVIZAR_TESTS_TEST_DOUBLES_H_
#define VAVIZAR_TESTS_TEST_DOUBLES_H_

#include <functional>

#include "component/page_interface.h"
#include "platform/ado/connection.h"
#include "platform/com/error_info.h"
#include "platform/failure.h"

namespace vz::testing {

// Lives on the test's stack; counts AddRef/Release instead of deleting
// itself, so a test can check the balance at any point.
class CountingConnection final : public ado::Connection {
 public:
  com::HRESULT QueryInterface(com::REFIID riid, void** object) override {
    if (riid == com::IID_IUnknown || riid == ado::IID_Connection) {
      *object = static_cast<ado::Connection*>(this);
      AddRef();
      return com::S_OK;
    }
    *object = nullptr;
    return com::E_NOINTERFACE;
  }
  com::ULONG AddRef() override {
    ++add_refs;
    return static_cast<com::ULONG>(refs());
  }
  com::ULONG Release() override {
    ++releases;
    if (on_release) {
      auto hook = on_release;  // the hook may clear itself
      hook();
    }
    return static_cast<com::ULONG>(refs());
  }
  com::Ref<ado::Recordset> Execute(const Text&, int32_t) override {
    Raise(kObjectVariableNotSet, u"test connection runs no statements");
  }

  int refs() const { return add_refs - releases; }

  int add_refs = 0;
  int releases = 0;
  std::function<void()> on_release;
};

// An object that answers only IUnknown.
class PlainObject final : public com::IUnknown {
 public:
  com::HRESULT QueryInterface(com::REFIID riid, void** object) override {
    if (riid == com::IID_IUnknown) {
      *object = this;
      AddRef();
      return com::S_OK;
    }
    *object = nullptr;
    return com::E_NOINTERFACE;
  }
  com::ULONG AddRef() override { return static_cast<com::ULONG>(++refs); }
  com::ULONG Release() override { return static_cast<com::ULONG>(--refs); }

  int refs = 0;
};

// A stand-in _Page whose members fail with a chosen status and error
// information, to see how the C++ wrapper reports it.
class FailingPage final : public _Page {
 public:
  com::HRESULT QueryInterface(com::REFIID, void**) override { return com::E_NOINTERFACE; }
  com::ULONG AddRef() override { return ++refs; }
  com::ULONG Release() override { return --refs; }
  com::HRESULT GetTypeInfoCount(com::UINT*) override { return com::E_NOTIMPL; }
  com::HRESULT GetTypeInfo(com::UINT, com::LCID, com::ITypeInfo**) override {
    return com::E_NOTIMPL;
  }
  com::HRESULT GetIDsOfNames(com::REFIID, com::OLECHAR**, com::UINT, com::LCID,
                             com::DISPID*) override {
    return com::E_NOTIMPL;
  }
  com::HRESULT Invoke(com::DISPID, com::REFIID, com::LCID, com::WORD, com::DISPPARAMS*,
                      com::VARIANT*, com::EXCEPINFO*, com::UINT*) override {
    return com::E_NOTIMPL;
  }
  com::HRESULT putref_Connection(ado::Connection**) override { return Fail(); }
  com::HRESULT get_Errors(com::BSTR* result) override {
    *result = nullptr;
    return Fail();
  }
  com::HRESULT put_TempletRoot(com::BSTR*) override { return Fail(); }
  com::HRESULT CreateAspCode(com::BSTR, com::BSTR, com::BSTR* result) override {
    *result = nullptr;
    return Fail();
  }
  com::HRESULT CreateExecuteCode(com::BSTR, com::BSTR, com::BSTR* result) override {
    *result = nullptr;
    return Fail();
  }

  com::HRESULT Fail() {
    if (!description.empty()) com::SetErrorInfo(description);
    return status;
  }

  com::ULONG refs = 0;
  com::HRESULT status = com::E_FAIL;
  Text description;
};

}  // namespace vz::testing

#endif  // VAVIZAR_TESTS_TEST_DOUBLES_H_
