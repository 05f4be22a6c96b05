#include "component/page_ptr.h"

#include "component/page.h"
#include "platform/com/error_info.h"
#include "platform/failure.h"

namespace vz {
namespace {

void Check(com::HRESULT hr) {
  if (com::FAILED(hr)) throw com::FailureFromHResult(hr);
}

// Takes a returned BSTR into a text, freeing it.
Text Take(com::BSTR s) {
  com::Bstr owned;
  *owned.Out() = s;
  return Text(owned.view());
}

}  // namespace

PagePtr PagePtr::Create() {
  Page* page = Page::Create();
  if (page == nullptr) Raise(kOutOfMemory);
  PagePtr ptr;
  ptr.page_ = com::Ref<_Page>::Adopt(page);
  return ptr;
}

_Page& PagePtr::Target() const {
  if (!page_) Raise(kObjectVariableNotSet);
  return *page_;
}

Page& PagePtr::OwnPage() const {
  auto* page = dynamic_cast<Page*>(&Target());
  if (page == nullptr) {
    Raise(kInvalidArgument,
          Concat({StandardDescription(kInvalidArgument), u": not a Vantrel_VaviZar.Page"}));
  }
  return *page;
}

void PagePtr::PutRefConnection(ado::Connection* conn) {
  ado::Connection* arg = conn;
  Check(Target().putref_Connection(&arg));
}

Text PagePtr::GetErrors() {
  com::BSTR errors = nullptr;
  Check(Target().get_Errors(&errors));
  return Take(errors);
}

void PagePtr::PutTempletRoot(TextView root) {
  com::Bstr value(root);
  com::BSTR raw = value.get();
  Check(Target().put_TempletRoot(&raw));
}

com::Bstr PagePtr::AspCodeOf(TextView templet_set_id, TextView page_id) {
  com::Bstr set_arg(templet_set_id), page_arg(page_id);
  com::Bstr code;
  Check(Target().CreateAspCode(set_arg.get(), page_arg.get(), code.Out()));
  return code;
}

com::Bstr PagePtr::ExecuteCodeOf(TextView templet_set_id, TextView page_id) {
  com::Bstr set_arg(templet_set_id), page_arg(page_id);
  com::Bstr code;
  Check(Target().CreateExecuteCode(set_arg.get(), page_arg.get(), code.Out()));
  return code;
}

com::Bstr PagePtr::AspCodeOf(TextView templet_set_id, TextView page_id, PageTrace& trace) {
  com::Bstr set_arg(templet_set_id), page_arg(page_id);
  com::Bstr code;
  Check(OwnPage().CreateAspCode(set_arg.get(), page_arg.get(), code.Out(), &trace));
  return code;
}

com::Bstr PagePtr::ExecuteCodeOf(TextView templet_set_id, TextView page_id, PageTrace& trace) {
  com::Bstr set_arg(templet_set_id), page_arg(page_id);
  com::Bstr code;
  Check(OwnPage().CreateExecuteCode(set_arg.get(), page_arg.get(), code.Out(), &trace));
  return code;
}

void PagePtr::ExecuteCodeTo(TextView templet_set_id, TextView page_id,
                            const std::function<void(TextView)>& write) {
  com::Bstr set_arg(templet_set_id), page_arg(page_id);
  Check(OwnPage().CreateExecuteCode(set_arg.get(), page_arg.get(), write));
}

Text PagePtr::CreateAspCode(TextView templet_set_id, TextView page_id) {
  return Text(AspCodeOf(templet_set_id, page_id).view());
}

Text PagePtr::CreateExecuteCode(TextView templet_set_id, TextView page_id) {
  return Text(ExecuteCodeOf(templet_set_id, page_id).view());
}

}  // namespace vz
