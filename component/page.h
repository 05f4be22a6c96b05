// Page: the component's one class. It generates the server-page code of a
// web page from the page's template and the tag definitions in a database.
//
// A host creates a Page, lends it an open database connection and names the
// folder of the template files, then asks for pages as often as it likes:
//
//   vz::PagePtr page = vz::PagePtr::Create();          // see page_ptr.h
//   page.PutRefConnection(connection);                 // an ado::Connection*
//   page.PutTempletRoot(u"/srv/site/templates/");
//   vz::Text asp = page.CreateAspCode(u"1", u"12");    // template set 1, page 12
//   if (asp.empty()) std::cerr << vz::ToUtf8(page.GetErrors());
//
// Failures: the generation methods never fail towards the host. Whatever goes
// wrong is appended as one dated line to the object's error log, read through
// `Errors`, and the method returns an empty text. The log only grows; a host
// that wants a fresh one creates a new object.
//
// Ownership: a Page is reference counted (AddRef/Release); it deletes itself
// when the last reference goes. It holds exactly one reference to the
// connection it was given, until the connection is replaced or the object
// ends. Every text it returns belongs to the caller.
//
// Threading: an object is used by one thread at a time (the thread that made
// it); calls on one object never overlap. Different objects share nothing and
// may be used on different threads at once.

#ifndef VAVIZAR_COMPONENT_PAGE_H_
#define VAVIZAR_COMPONENT_PAGE_H_

#include <functional>

#include "component/page_interface.h"
#include "generate/origins.h"
#include "platform/ado/connection.h"
#include "platform/com/object.h"
#include "platform/com/ref.h"
#include "platform/text.h"

namespace vz {

class Page final : public com::Object<_Page, com::IID_IDispatch, IID__Page> {
 public:
  // A new object with one reference, owned by the caller; null when memory
  // runs out.
  static Page* Create();

  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  // IUnknown (from com::Object) answers IUnknown, IDispatch and _Page.

  // IDispatch, served from the member table (page_members.h).
  com::HRESULT GetTypeInfoCount(com::UINT* count) override;
  com::HRESULT GetTypeInfo(com::UINT index, com::LCID lcid, com::ITypeInfo** info) override;
  com::HRESULT GetIDsOfNames(com::REFIID riid, com::OLECHAR** names, com::UINT count,
                             com::LCID lcid, com::DISPID* dispids) override;
  com::HRESULT Invoke(com::DISPID dispid, com::REFIID riid, com::LCID lcid, com::WORD flags,
                      com::DISPPARAMS* params, com::VARIANT* result, com::EXCEPINFO* excep_info,
                      com::UINT* arg_err) override;

  // _Page.
  com::HRESULT putref_Connection(ado::Connection** Conn) override;
  com::HRESULT get_Errors(com::BSTR* result) override;
  com::HRESULT put_TempletRoot(com::BSTR* Root) override;
  com::HRESULT CreateAspCode(com::BSTR TempletSetID, com::BSTR PageID, com::BSTR* result) override;
  com::HRESULT CreateExecuteCode(com::BSTR TempletSetID, com::BSTR PageID,
                                 com::BSTR* result) override;

  // Not part of _Page, for C++ hosts: the same two, and with `trace` (when
  // not null) what the page was made of, for a source map: the template's
  // path and text and where each character of the result came from. When
  // the page fails the trace says nothing of it (and the result is "").
  com::HRESULT CreateAspCode(com::BSTR TempletSetID, com::BSTR PageID, com::BSTR* result,
                             PageTrace* trace);
  com::HRESULT CreateExecuteCode(com::BSTR TempletSetID, com::BSTR PageID, com::BSTR* result,
                                 PageTrace* trace);
  // CreateExecuteCode with the result handed to `write` in pieces as they
  // are made (execute/execute_code.h), for a host that sends it on rather
  // than keeping it: the same characters and the same log. Nothing is handed
  // on when the page fails. A failure of `write` ends the call as a failure
  // of the conversion would, logged, what it took before staying taken.
  com::HRESULT CreateExecuteCode(com::BSTR TempletSetID, com::BSTR PageID,
                                 const std::function<void(TextView)>& write);

 private:
  friend class PageTestPeer;  // reads the fields in tests

  Page() = default;
  ~Page() override;

  // The steps of CreateExecuteCode: `convert` makes the result of the
  // server-page text; `hand` hands on a result made the long way.
  template <typename Convert, typename Hand>
  com::HRESULT MakeExecuteCode(com::BSTR TempletSetID, com::BSTR PageID, PageTrace* trace,
                               Convert&& convert, Hand&& hand);

  // Runs when the object is destroyed: lets go of the connection.
  void Class_Terminate();
  // The tag rows that apply to a page (store/templet_store.h).
  ado::RowTable GetPageTags(Text PageID);
  // The template text of a page; logs and returns "" when there is none.
  Text LoadTemplet(Text TempletSetID, Text PageID, Text* path = nullptr);

  com::Ref<ado::Connection> m_Conn;
  Text m_Errors;
  Text m_TempletRoot;
};

}  // namespace vz

#endif  // VAVIZAR_COMPONENT_PAGE_H_
