// The standard object interfaces: IUnknown, IDispatch with its argument
// structures, IClassFactory.
//
// They are plain abstract classes whose virtual members sit in the standard
// slot order and that have no virtual destructor (which would add slots), so a
// host can call through the table as it would on any component platform.
// Objects are reference counted: AddRef for every copy of a pointer that is
// kept, Release when it is dropped; the object deletes itself at zero.

#ifndef VAVIZAR_PLATFORM_COM_UNKNOWN_H_
#define VAVIZAR_PLATFORM_COM_UNKNOWN_H_

#include "platform/com/bstr.h"
#include "platform/com/types.h"

namespace vz::com {

class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

// Variant kinds used by this component.
using VARTYPE = uint16_t;
enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_BYREF = 0x4000,
};

using VARIANT_BOOL = int16_t;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

class IDispatch;

// A tagged value, laid out as on 64-bit component platforms (24 bytes).
struct VARIANT {
  VARTYPE vt;
  uint16_t wReserved1;
  uint16_t wReserved2;
  uint16_t wReserved3;
  union {
    int32_t lVal;
    int16_t iVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    HRESULT scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    int32_t* plVal;
    int16_t* piVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    VARIANT* pvarVal;
    struct {
      void* pvRecord;
      void* pRecInfo;
    } record;
  };
};
using VARIANTARG = VARIANT;
static_assert(sizeof(VARIANT) == 24);

void VariantInit(VARIANT* v);
// Frees what `v` owns (its text, its object reference) and makes it empty.
// By-reference forms own nothing.
HRESULT VariantClear(VARIANT* v);
// `dest` = a copy of `src` (new text, new reference). Clears `dest` first.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);

// The value a by-reference variant refers to (following VT_VARIANT|VT_BYREF
// chains); `v` itself when it is not by-reference. Null for a null reference.
const VARIANT* VariantTarget(const VARIANT* v, VARIANT* scratch);

struct DISPPARAMS {
  VARIANTARG* rgvarg;  // arguments, last first
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  uint32_t dwHelpContext;
  void* pvReserved;
  void* pfnDeferredFillIn;
  HRESULT scode;
};

inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 8;
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

// Type information is served by the component runtime; this layer only
// passes the pointer through.
class ITypeInfo;

class IDispatch : public IUnknown {
 public:
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, OLECHAR** names, UINT count, LCID lcid,
                                DISPID* dispids) = 0;
  virtual HRESULT Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* excep_info, UINT* arg_err) = 0;

 protected:
  ~IDispatch() = default;
};

class IClassFactory : public IUnknown {
 public:
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

}  // namespace vz::com

#endif  // VAVIZAR_PLATFORM_COM_UNKNOWN_H_
