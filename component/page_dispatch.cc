// Late binding: GetIDsOfNames and Invoke for _Page, both served from one
// static table of the members.

#include <iterator>

#include "component/page_members.h"
#include "platform/com/error_info.h"

namespace vz {
namespace {

using namespace com;

// An argument for a text parameter, converted the way automation converts a
// value to text: empty is "", numbers in decimal, booleans "True"/"False".
// Null and objects do not convert.
HRESULT ArgumentText(const VARIANT& v, Text* out) {
  switch (v.vt) {
    case VT_EMPTY:
      out->clear();
      return S_OK;
    case VT_BSTR:
      *out = Text(BstrView(v.bstrVal));
      return S_OK;
    case VT_I2:
      *out = DecimalText(v.iVal);
      return S_OK;
    case VT_I4:
      *out = DecimalText(v.lVal);
      return S_OK;
    case VT_R8:
      *out = DoubleText(v.dblVal);
      return S_OK;
    case VT_BOOL:
      *out = v.boolVal != VARIANT_FALSE ? u"True" : u"False";
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT BadArgument(PageInvocation& call, UINT index, HRESULT hr) {
  // Invoke reports the argument's position in rgvarg, which runs last first.
  if (call.arg_err != nullptr) *call.arg_err = call.arg_count - 1 - index;
  return hr;
}

// A failure status from the member itself: reported as an exception with
// the member's status and description.
HRESULT MemberStatus(PageInvocation& call, HRESULT hr) noexcept {
  if (SUCCEEDED(hr)) return hr;
  if (call.excep_info != nullptr) {
    EXCEPINFO& info = *call.excep_info;
    info = EXCEPINFO{};
    info.scode = hr;
    try {
      Text description = FailureFromHResult(hr).description();
      info.bstrSource = SysAllocString(u"Vantrel_VaviZar.Page");
      info.bstrDescription = Bstr(description).Detach();
    } catch (...) {
      // The status alone still reaches the caller.
    }
  } else {
    ClearErrorInfo();
  }
  return DISP_E_EXCEPTION;
}

HRESULT StoreResult(PageInvocation& call, BSTR text) {
  if (call.result == nullptr) {
    SysFreeString(text);
  } else {
    call.result->vt = VT_BSTR;
    call.result->bstrVal = text;
  }
  return S_OK;
}

HRESULT CallConnection(_Page& page, PageInvocation& call) {
  const VARIANT& arg = *call.args[0];
  if (arg.vt != VT_DISPATCH && arg.vt != VT_UNKNOWN)
    return BadArgument(call, 0, DISP_E_TYPEMISMATCH);
  ado::Connection* conn = nullptr;
  if (arg.punkVal != nullptr &&
      FAILED(arg.punkVal->QueryInterface(ado::IID_Connection, reinterpret_cast<void**>(&conn)))) {
    return BadArgument(call, 0, DISP_E_TYPEMISMATCH);
  }
  HRESULT hr = page.putref_Connection(&conn);
  if (conn != nullptr) conn->Release();
  return MemberStatus(call, hr);
}

HRESULT CallErrors(_Page& page, PageInvocation& call) {
  BSTR errors = nullptr;
  HRESULT hr = page.get_Errors(&errors);
  if (FAILED(hr)) return MemberStatus(call, hr);
  return StoreResult(call, errors);
}

HRESULT CallTempletRoot(_Page& page, PageInvocation& call) {
  Text root;
  if (HRESULT hr = ArgumentText(*call.args[0], &root); FAILED(hr)) return BadArgument(call, 0, hr);
  Bstr value(root);
  BSTR raw = value.get();
  return MemberStatus(call, page.put_TempletRoot(&raw));
}

template <HRESULT (_Page::*kMethod)(BSTR, BSTR, BSTR*)>
HRESULT CallGenerator(_Page& page, PageInvocation& call) {
  Text set_id, page_id;
  if (HRESULT hr = ArgumentText(*call.args[0], &set_id); FAILED(hr))
    return BadArgument(call, 0, hr);
  if (HRESULT hr = ArgumentText(*call.args[1], &page_id); FAILED(hr))
    return BadArgument(call, 1, hr);
  Bstr set_arg(set_id), page_arg(page_id);
  BSTR code = nullptr;
  HRESULT hr = (page.*kMethod)(set_arg.get(), page_arg.get(), &code);
  if (FAILED(hr)) return MemberStatus(call, hr);
  return StoreResult(call, code);
}

constexpr ParamDescription kConnectionParams[] = {
    {nullptr, VT_DISPATCH | VT_BYREF, PARAMFLAG_FIN | PARAMFLAG_FOUT}};
constexpr ParamDescription kTempletRootParams[] = {
    {nullptr, VT_BSTR | VT_BYREF, PARAMFLAG_FIN | PARAMFLAG_FOUT}};
constexpr ParamDescription kGeneratorParams[] = {{u"TempletSetID", VT_BSTR, PARAMFLAG_FIN},
                                                 {u"PageID", VT_BSTR, PARAMFLAG_FIN}};

constexpr PageMember kMembers[] = {
    {{kDispIdConnection, u"Connection", INVOKE_PROPERTYPUTREF, VT_VOID, kConnectionParams},
     CallConnection},
    {{kDispIdErrors, u"Errors", INVOKE_PROPERTYGET, VT_BSTR, {}}, CallErrors},
    {{kDispIdTempletRoot, u"TempletRoot", INVOKE_PROPERTYPUT, VT_VOID, kTempletRootParams},
     CallTempletRoot},
    {{kDispIdCreateAspCode, u"CreateAspCode", INVOKE_FUNC, VT_BSTR, kGeneratorParams},
     CallGenerator<&_Page::CreateAspCode>},
    {{kDispIdCreateExecuteCode, u"CreateExecuteCode", INVOKE_FUNC, VT_BSTR, kGeneratorParams},
     CallGenerator<&_Page::CreateExecuteCode>},
};

bool SameName(const OLECHAR* a, const char16_t* b) {
  return a != nullptr && b != nullptr && EqualsIgnoringAsciiCase(a, b);
}

// Script hosts read properties and call methods with METHOD and PROPERTYGET
// alike; puts must say which of the two put forms they are.
bool Accepts(const PageMember& member, WORD flags) {
  switch (static_cast<WORD>(member.description.kind)) {
    case DISPATCH_METHOD:
    case DISPATCH_PROPERTYGET:
      return (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) != 0;
    default:
      return (flags & member.description.kind) != 0;
  }
}

}  // namespace

std::span<const PageMember> PageMembers() { return kMembers; }

const InterfaceDescription& PageInterfaceDescription() {
  static const MemberDescription kDescriptions[] = {
      kMembers[0].description, kMembers[1].description, kMembers[2].description,
      kMembers[3].description, kMembers[4].description};
  static const InterfaceDescription kPage{
      IID__Page,
      u"_Page",
      TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION |
          TYPEFLAG_FDISPATCHABLE,
      9,
      0,
      kDescriptions,
      PageIDsOfNames,
      [](void* instance, DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result,
         EXCEPINFO* excep_info, UINT* arg_err) {
        return InvokePageMember(*static_cast<_Page*>(instance), dispid, flags, params, result,
                                excep_info, arg_err);
      }};
  return kPage;
}

HRESULT PageIDsOfNames(OLECHAR** names, UINT count, DISPID* dispids) {
  if (count == 0) return S_OK;
  if (names == nullptr || dispids == nullptr) return E_POINTER;
  const MemberDescription* found = nullptr;
  for (const PageMember& member : kMembers) {
    if (SameName(names[0], member.description.name)) found = &member.description;
  }
  HRESULT hr = S_OK;
  dispids[0] = found != nullptr ? found->dispid : DISPID_UNKNOWN;
  if (found == nullptr) hr = DISP_E_UNKNOWNNAME;
  // Parameter names map to their position.
  for (UINT i = 1; i < count; ++i) {
    dispids[i] = DISPID_UNKNOWN;
    for (size_t p = 0; found != nullptr && p < found->params.size(); ++p) {
      if (SameName(names[i], found->params[p].name)) dispids[i] = static_cast<DISPID>(p);
    }
    if (dispids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT InvokePageMember(_Page& page, DISPID dispid, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* excep_info, UINT* arg_err) {
  const PageMember* member = nullptr;
  for (const PageMember& candidate : kMembers) {
    if (candidate.description.dispid == dispid) member = &candidate;
  }
  if (member == nullptr || !Accepts(*member, flags)) return DISP_E_MEMBERNOTFOUND;

  DISPPARAMS none{};
  if (params == nullptr) params = &none;
  const bool is_put = member->description.kind == INVOKE_PROPERTYPUT ||
                      member->description.kind == INVOKE_PROPERTYPUTREF;
  // The value of a put may come as the named argument DISPID_PROPERTYPUT;
  // no other argument may be named.
  if (params->cNamedArgs > 1 ||
      (params->cNamedArgs == 1 && (!is_put || params->rgdispidNamedArgs == nullptr ||
                                   params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))) {
    return DISP_E_NONAMEDARGS;
  }
  if (params->cArgs != member->description.params.size()) return DISP_E_BADPARAMCOUNT;
  if (params->cArgs != 0 && params->rgvarg == nullptr) return E_INVALIDARG;
  if (result != nullptr) VariantInit(result);

  PageInvocation call;
  call.arg_count = params->cArgs;
  call.result = result;
  call.arg_err = arg_err;
  call.excep_info = excep_info;
  VARIANT scratch[2];
  for (UINT i = 0; i < params->cArgs; ++i) {
    call.args[i] = VariantTarget(&params->rgvarg[params->cArgs - 1 - i], &scratch[i]);
    if (call.args[i] == nullptr) return BadArgument(call, i, DISP_E_TYPEMISMATCH);
  }
  try {
    return member->call(page, call);
  } catch (...) {
    return MemberStatus(call, StatusFromCurrentFailure());
  }
}

}  // namespace vz
