#include "component/page.h"

#include <new>
#include <utility>

#include "component/page_members.h"
#include "execute/execute_code.h"
#include "execute/execute_origins.h"
#include "generate/asp_code.h"
#include "platform/com/error_info.h"
#include "platform/com/runtime.h"
#include "platform/com/typeinfo.h"
#include "platform/failure.h"
#include "store/error_log.h"
#include "store/page_source.h"
#include "store/templet_store.h"

namespace vz {
namespace {

using com::BSTR;
using com::HRESULT;

// Holds one extra reference on the object while a public member runs, so that
// a host releasing its last reference from inside the call (through a
// connection's Release, say) cannot destroy the object under the member.
class SelfRef {
 public:
  explicit SelfRef(Page* page) : page_(page) { page_->AddRef(); }
  ~SelfRef() { page_->Release(); }
  SelfRef(const SelfRef&) = delete;
  SelfRef& operator=(const SelfRef&) = delete;

 private:
  Page* page_;
};

// Stores `text` into a result out-parameter as a new BSTR.
HRESULT StoreText(TextView text, BSTR* result) {
  com::Bstr value(text);  // raises 7 when memory runs out
  *result = value.Detach();
  return com::S_OK;
}

// Whether the execute code of a server-page text of `length` characters
// surely fits a BSTR, with the room it is written in: every character becomes
// at most 14, and the room at most doubles past what is written.
bool FitsBstr(size_t length) { return length <= (size_t{0x7FFFFFFF} - (1u << 20)) / 28; }

}  // namespace

Page* Page::Create() {
  Page* page = new (std::nothrow) Page();
  if (page == nullptr) return nullptr;
  com::ObjectCreated();
  page->AddRef();
  return page;
}

Page::~Page() {
  Class_Terminate();
  com::ObjectDestroyed();
}

void Page::Class_Terminate() { m_Conn = nullptr; }

ado::RowTable Page::GetPageTags(Text PageID) {
  return vz::GetPageTags(m_Conn.get(), std::move(PageID));
}

Text Page::LoadTemplet(Text TempletSetID, Text PageID, Text* path) {
  return vz::LoadTemplet(m_Conn.get(), m_TempletRoot, m_Errors, std::move(TempletSetID),
                         std::move(PageID), path);
}

HRESULT Page::GetTypeInfoCount(com::UINT* count) {
  if (count == nullptr) return com::E_POINTER;
  *count = 1;
  return com::S_OK;
}

HRESULT Page::GetTypeInfo(com::UINT index, com::LCID lcid, com::ITypeInfo** info) {
  if (info == nullptr) return com::E_POINTER;
  *info = nullptr;
  if (index != 0) return com::DISP_E_BADINDEX;
  *info = com::NewTypeInfo(PageInterfaceDescription());
  return *info != nullptr ? com::S_OK : com::E_OUTOFMEMORY;
}

HRESULT Page::GetIDsOfNames(com::REFIID riid, com::OLECHAR** names, com::UINT count, com::LCID lcid,
                            com::DISPID* dispids) {
  if (!(riid == com::IID_NULL)) return com::DISP_E_UNKNOWNINTERFACE;
  return PageIDsOfNames(names, count, dispids);
}

HRESULT Page::Invoke(com::DISPID dispid, com::REFIID riid, com::LCID lcid, com::WORD flags,
                     com::DISPPARAMS* params, com::VARIANT* result, com::EXCEPINFO* excep_info,
                     com::UINT* arg_err) {
  if (!(riid == com::IID_NULL)) return com::DISP_E_UNKNOWNINTERFACE;
  return InvokePageMember(*this, dispid, flags, params, result, excep_info, arg_err);
}

HRESULT Page::putref_Connection(ado::Connection** Conn) {
  SelfRef self(this);
  // Take the new reference before letting go of the old one: setting the
  // connection the object already holds must not drop it to zero on the way.
  com::Ref<ado::Connection> next(Conn != nullptr ? *Conn : nullptr);
  m_Conn = std::move(next);
  return com::S_OK;
}

HRESULT Page::get_Errors(BSTR* result) {
  SelfRef self(this);
  if (result == nullptr) return com::E_POINTER;
  *result = nullptr;
  try {
    return StoreText(m_Errors, result);
  } catch (...) {
    return com::StatusFromCurrentFailure();
  }
}

HRESULT Page::put_TempletRoot(BSTR* Root) {
  SelfRef self(this);
  try {
    Text stored = TempletRootOf(Root != nullptr ? com::BstrView(*Root) : TextView());
    m_TempletRoot = std::move(stored);  // the old value stays until the new one is complete
    return com::S_OK;
  } catch (...) {
    return com::StatusFromCurrentFailure();
  }
}

HRESULT Page::CreateAspCode(BSTR TempletSetID, BSTR PageID, BSTR* result) {
  return CreateAspCode(TempletSetID, PageID, result, nullptr);
}

HRESULT Page::CreateAspCode(BSTR TempletSetID, BSTR PageID, BSTR* result, PageTrace* trace) {
  SelfRef self(this);
  if (result == nullptr) return com::E_POINTER;
  *result = nullptr;
  try {
    // The text is read, expanded and handed out in the one BSTR.
    com::BstrBuilder code;
    size_t length = 0;
    try {
      Text set_id(com::BstrView(TempletSetID));
      Text page_id(com::BstrView(PageID));
      length = LoadTempletInto(m_Conn.get(), m_TempletRoot, m_Errors, set_id, page_id,
                               trace != nullptr ? &trace->template_path : nullptr, code);
      if (trace != nullptr) {
        ReserveText(trace->template_text, length);
        trace->template_text.assign(code.Reserve(length, length), length);
      }
      ado::RowTable tags = GetPageTags(page_id);
      ExpandLimits limits;
      limits.max_length = WorkingTextLimit();
      length =
          AssembleAspCode(code, length, tags, limits, trace != nullptr ? &trace->origins : nullptr);
    } catch (...) {
      AppendError(m_Errors, Text());
      length = 0;
      if (trace != nullptr) trace->origins = PageOrigins();
    }
    *result = code.Finish(length).Detach();
    return com::S_OK;
  } catch (...) {
    // Only a failure while logging gets here.
    return com::StatusFromCurrentFailure();
  }
}

HRESULT Page::CreateExecuteCode(BSTR TempletSetID, BSTR PageID, BSTR* result) {
  return CreateExecuteCode(TempletSetID, PageID, result, nullptr);
}

HRESULT Page::CreateExecuteCode(BSTR TempletSetID, BSTR PageID, BSTR* result, PageTrace* trace) {
  if (result == nullptr) return com::E_POINTER;
  *result = nullptr;
  return MakeExecuteCode(
      TempletSetID, PageID, trace,
      [&](TextView asp) {
        // The result goes straight into the BSTR handed out.
        com::BstrBuilder buffer;
        const size_t length = ExecuteCodeInto(asp, buffer);
        *result = buffer.Finish(length).Detach();
      },
      [&](TextView code) { StoreText(code, result); });
}

HRESULT Page::CreateExecuteCode(BSTR TempletSetID, BSTR PageID,
                                const std::function<void(TextView)>& write) {
  return MakeExecuteCode(
      TempletSetID, PageID, nullptr, [&](TextView asp) { ExecuteCodeTo(asp, write); },
      [&](TextView code) { write(code); });
}

template <typename Convert, typename Hand>
HRESULT Page::MakeExecuteCode(BSTR TempletSetID, BSTR PageID, PageTrace* trace, Convert&& convert,
                              Hand&& hand) {
  SelfRef self(this);
  try {
    Text code;
    try {
      // Through the published interface, as a host would call it: its own
      // reference counting and status apply.
      com::Ref<_Page> self_interface;
      HRESULT hr = QueryInterface(IID__Page, reinterpret_cast<void**>(self_interface.Out()));
      if (com::FAILED(hr)) throw com::FailureFromHResult(hr);
      com::Bstr asp;
      hr = trace != nullptr ? CreateAspCode(TempletSetID, PageID, asp.Out(), trace)
                            : self_interface->CreateAspCode(TempletSetID, PageID, asp.Out());
      if (com::FAILED(hr)) throw com::FailureFromHResult(hr);
      if (FitsBstr(asp.view().size())) {
        // A text past this size takes the long way, where the limits are
        // checked.
        convert(asp.view());
        if (trace != nullptr)
          trace->origins.runs = ExecuteCodeOrigins(asp.view(), trace->origins.runs);
        return com::S_OK;
      }
      code = ExecuteCodeOf(asp.view());
      if (trace != nullptr)
        trace->origins.runs = ExecuteCodeOrigins(asp.view(), trace->origins.runs);
    } catch (...) {
      AppendError(m_Errors, Text());
      code.clear();
      if (trace != nullptr) trace->origins = PageOrigins();
    }
    if (!code.empty()) hand(code);
    return com::S_OK;
  } catch (...) {
    return com::StatusFromCurrentFailure();
  }
}

}  // namespace vz
