#include <cstring>

#include "platform/com/unknown.h"

namespace vz::com {

void VariantInit(VARIANT* v) { std::memset(v, 0, sizeof *v); }

HRESULT VariantClear(VARIANT* v) {
  if (v == nullptr) return E_INVALIDARG;
  switch (v->vt) {
    case VT_BSTR:
      SysFreeString(v->bstrVal);
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (v->punkVal != nullptr) v->punkVal->Release();
      break;
    default:
      break;
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (dest == src) return S_OK;
  VARIANT copy = *src;
  if (src->vt == VT_BSTR && src->bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
    if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
  } else if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal != nullptr) {
    src->punkVal->AddRef();
  }
  VariantClear(dest);
  *dest = copy;
  return S_OK;
}

const VARIANT* VariantTarget(const VARIANT* v, VARIANT* scratch) {
  // A by-reference variant points at storage of its base kind; present that
  // storage as a plain variant in `scratch` (borrowed, not owned).
  for (int depth = 0; v != nullptr && (v->vt & VT_BYREF) != 0 && depth < 8; ++depth) {
    VARTYPE base = static_cast<VARTYPE>(v->vt & ~VT_BYREF);
    if (v->record.pvRecord == nullptr) return nullptr;
    if (base == VT_VARIANT) {
      v = v->pvarVal;
      continue;
    }
    VariantInit(scratch);
    scratch->vt = base;
    switch (base) {
      case VT_I2:
        scratch->iVal = *v->piVal;
        break;
      case VT_I4:
      case VT_ERROR:
        scratch->lVal = *v->plVal;
        break;
      case VT_R8:
        scratch->dblVal = *v->pdblVal;
        break;
      case VT_BOOL:
        scratch->boolVal = *v->pboolVal;
        break;
      case VT_BSTR:
        scratch->bstrVal = *v->pbstrVal;
        break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        scratch->punkVal = *v->ppunkVal;
        break;
      default:
        return nullptr;
    }
    return scratch;
  }
  return (v != nullptr && (v->vt & VT_BYREF) != 0) ? nullptr : v;
}

}  // namespace vz::com
