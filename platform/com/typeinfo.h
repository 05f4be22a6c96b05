// Type information: the description of a dispatch interface that a
// component carries in its type library, and the ITypeInfo object that
// hands it out.
//
// A description is static data: the interface, its flags, and each member
// with its dispatch identifier, kind, result and parameters. ITypeInfo
// answers from it with the standard structures (TYPEATTR, FUNCDESC); the
// slots that describe things such a library does not have (variables,
// modules, aggregation) answer as for an interface without them.

#ifndef VAVIZAR_PLATFORM_COM_TYPEINFO_H_
#define VAVIZAR_PLATFORM_COM_TYPEINFO_H_

#include <span>

#include "platform/com/unknown.h"

namespace vz::com {

using MEMBERID = DISPID;
using HREFTYPE = uint32_t;
inline constexpr MEMBERID MEMBERID_NIL = -1;

enum TYPEKIND : int32_t {
  TKIND_ENUM,
  TKIND_RECORD,
  TKIND_MODULE,
  TKIND_INTERFACE,
  TKIND_DISPATCH,
  TKIND_COCLASS,
  TKIND_ALIAS,
  TKIND_UNION,
};
enum FUNCKIND : int32_t {
  FUNC_VIRTUAL,
  FUNC_PUREVIRTUAL,
  FUNC_NONVIRTUAL,
  FUNC_STATIC,
  FUNC_DISPATCH
};
enum INVOKEKIND : int32_t {
  INVOKE_FUNC = 1,
  INVOKE_PROPERTYGET = 2,
  INVOKE_PROPERTYPUT = 4,
  INVOKE_PROPERTYPUTREF = 8,
};
enum CALLCONV : int32_t { CC_FASTCALL = 0, CC_CDECL = 1, CC_STDCALL = 4 };

inline constexpr WORD TYPEFLAG_FHIDDEN = 0x10;
inline constexpr WORD TYPEFLAG_FDUAL = 0x40;
inline constexpr WORD TYPEFLAG_FNONEXTENSIBLE = 0x80;
inline constexpr WORD TYPEFLAG_FOLEAUTOMATION = 0x100;
inline constexpr WORD TYPEFLAG_FDISPATCHABLE = 0x1000;
inline constexpr WORD PARAMFLAG_FIN = 0x1;
inline constexpr WORD PARAMFLAG_FOUT = 0x2;
inline constexpr WORD PARAMFLAG_FRETVAL = 0x8;
inline constexpr VARTYPE VT_VOID = 24;
inline constexpr VARTYPE VT_HRESULT = 25;
inline constexpr VARTYPE VT_PTR = 26;

struct TYPEDESC {
  union {
    TYPEDESC* lptdesc;
    void* lpadesc;
    HREFTYPE hreftype;
  };
  VARTYPE vt;
};
struct IDLDESC {
  uintptr_t dwReserved;
  WORD wIDLFlags;
};
struct PARAMDESC {
  void* pparamdescex;
  WORD wParamFlags;
};
struct ELEMDESC {
  TYPEDESC tdesc;
  union {
    IDLDESC idldesc;
    PARAMDESC paramdesc;
  };
};
struct TYPEATTR {
  GUID guid;
  LCID lcid;
  uint32_t dwReserved;
  MEMBERID memidConstructor;
  MEMBERID memidDestructor;
  OLECHAR* lpstrSchema;
  uint32_t cbSizeInstance;
  TYPEKIND typekind;
  WORD cFuncs;
  WORD cVars;
  WORD cImplTypes;
  WORD cbSizeVft;
  WORD cbAlignment;
  WORD wTypeFlags;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  TYPEDESC tdescAlias;
  IDLDESC idldescType;
};
struct FUNCDESC {
  MEMBERID memid;
  HRESULT* lprgscode;
  ELEMDESC* lprgelemdescParam;
  FUNCKIND funckind;
  INVOKEKIND invkind;
  CALLCONV callconv;
  int16_t cParams;
  int16_t cParamsOpt;
  int16_t oVft;
  int16_t cScodes;
  ELEMDESC elemdescFunc;
  WORD wFuncFlags;
};
struct VARDESC;
class ITypeComp;
class ITypeLib;

class ITypeInfo : public IUnknown {
 public:
  virtual HRESULT GetTypeAttr(TYPEATTR** attr) = 0;
  virtual HRESULT GetTypeComp(ITypeComp** comp) = 0;
  virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) = 0;
  virtual HRESULT GetVarDesc(UINT index, VARDESC** desc) = 0;
  virtual HRESULT GetNames(MEMBERID memid, BSTR* names, UINT max_names, UINT* count) = 0;
  virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* ref) = 0;
  virtual HRESULT GetImplTypeFlags(UINT index, int32_t* flags) = 0;
  virtual HRESULT GetIDsOfNames(OLECHAR** names, UINT count, MEMBERID* memids) = 0;
  virtual HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* excep_info, UINT* arg_err) = 0;
  virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, uint32_t* help_context,
                                   BSTR* help_file) = 0;
  virtual HRESULT GetDllEntry(MEMBERID memid, INVOKEKIND kind, BSTR* dll, BSTR* name,
                              WORD* ordinal) = 0;
  virtual HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) = 0;
  virtual HRESULT AddressOfMember(MEMBERID memid, INVOKEKIND kind, void** address) = 0;
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
  virtual HRESULT GetMops(MEMBERID memid, BSTR* mops) = 0;
  virtual HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) = 0;
  virtual void ReleaseTypeAttr(TYPEATTR* attr) = 0;
  virtual void ReleaseFuncDesc(FUNCDESC* desc) = 0;
  virtual void ReleaseVarDesc(VARDESC* desc) = 0;

 protected:
  ~ITypeInfo() = default;
};

inline constexpr IID IID_ITypeInfo{0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct ParamDescription {
  const char16_t* name;  // null for an unnamed parameter
  VARTYPE type;          // with VT_BYREF for a parameter passed by reference
  WORD flags;            // PARAMFLAG_*
};

struct MemberDescription {
  DISPID dispid;
  const char16_t* name;
  INVOKEKIND kind;
  VARTYPE result;  // VT_VOID when there is none
  std::span<const ParamDescription> params;
};

struct InterfaceDescription {
  IID iid;
  const char16_t* name;
  WORD flags;  // TYPEFLAG_*
  WORD major;
  WORD minor;
  std::span<const MemberDescription> members;
  // Name lookup and invocation on an object of the interface.
  HRESULT (*ids_of_names)(OLECHAR** names, UINT count, DISPID* dispids);
  HRESULT(*invoke)
  (void* instance, DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result,
   EXCEPINFO* excep_info, UINT* arg_err);
};

// A new type information object for `description` (one reference for the
// caller), or null when memory runs out. `description` must outlive it.
ITypeInfo* NewTypeInfo(const InterfaceDescription& description);

}  // namespace vz::com

#endif  // VAVIZAR_PLATFORM_COM_TYPEINFO_H_
