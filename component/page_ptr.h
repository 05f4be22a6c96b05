// PagePtr: a smart wrapper over _Page for C++ hosts, in the manner of the
// wrappers a type-library import generates. It holds one reference; its
// methods return results directly and raise `Failure` on a failure status.
//
//   vz::PagePtr page = vz::PagePtr::Create();
//   page.PutRefConnection(conn);
//   page.PutTempletRoot(u"templates");
//   vz::Text code = page.CreateAspCode(u"1", u"12");

#ifndef VAVIZAR_COMPONENT_PAGE_PTR_H_
#define VAVIZAR_COMPONENT_PAGE_PTR_H_

#include <functional>

#include "component/page_interface.h"
#include "generate/origins.h"
#include "platform/com/bstr.h"
#include "platform/com/ref.h"
#include "platform/text.h"

namespace vz {

class Page;

class PagePtr {
 public:
  // A new Page. Raises 7 when memory runs out.
  static PagePtr Create();

  PagePtr() = default;
  // Takes a new reference to `page`.
  explicit PagePtr(_Page* page) : page_(page) {}

  void PutRefConnection(ado::Connection* conn);
  Text GetErrors();
  void PutTempletRoot(TextView root);
  Text CreateAspCode(TextView templet_set_id, TextView page_id);
  Text CreateExecuteCode(TextView templet_set_id, TextView page_id);
  // The same two, as the BSTR the component returned, so that a large page
  // is not copied once more on its way to the caller.
  com::Bstr AspCodeOf(TextView templet_set_id, TextView page_id);
  com::Bstr ExecuteCodeOf(TextView templet_set_id, TextView page_id);
  // The same, with what the page was made of in `trace` (generate/origins.h),
  // for a source map. Raises 5 when the object is not this component's Page.
  com::Bstr AspCodeOf(TextView templet_set_id, TextView page_id, PageTrace& trace);
  com::Bstr ExecuteCodeOf(TextView templet_set_id, TextView page_id, PageTrace& trace);
  // The execute code handed to `write` in pieces as they are made, for a
  // host that sends it on: a large page is never held whole
  // (Page::CreateExecuteCode). Raises 5 when the object is not this
  // component's Page.
  void ExecuteCodeTo(TextView templet_set_id, TextView page_id,
                     const std::function<void(TextView)>& write);

  _Page* get() const { return page_.get(); }
  _Page* operator->() const { return page_.get(); }
  explicit operator bool() const { return static_cast<bool>(page_); }

 private:
  _Page& Target() const;
  Page& OwnPage() const;

  com::Ref<_Page> page_;
};

}  // namespace vz

#endif  // VAVIZAR_COMPONENT_PAGE_PTR_H_
