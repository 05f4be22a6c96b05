#include "platform/com/typeinfo.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "platform/com/object.h"

namespace vz::com {
namespace {

constexpr HRESULT TYPE_E_BADMODULEKIND = MakeHResult(0x800288BD);
constexpr HRESULT TYPE_E_WRONGTYPEKIND = MakeHResult(0x8002802A);

// A FUNCDESC and its parameters in one allocation.
struct FuncDescBlock {
  FUNCDESC desc;
  ELEMDESC params[1];  // as many as the member has (at least one slot)
};

class DescribedTypeInfo final : public Object<ITypeInfo, IID_ITypeInfo> {
 public:
  explicit DescribedTypeInfo(const InterfaceDescription& d) : d_(d) {}

  HRESULT GetTypeAttr(TYPEATTR** attr) override {
    if (attr == nullptr) return E_POINTER;
    *attr = new (std::nothrow) TYPEATTR{};
    if (*attr == nullptr) return E_OUTOFMEMORY;
    TYPEATTR& a = **attr;
    a.guid = d_.iid;
    a.memidConstructor = MEMBERID_NIL;
    a.memidDestructor = MEMBERID_NIL;
    a.cbSizeInstance = sizeof(void*);
    a.typekind = TKIND_DISPATCH;
    a.cFuncs = static_cast<WORD>(d_.members.size());
    a.cbSizeVft = static_cast<WORD>(7 * sizeof(void*));  // the IDispatch table
    a.cbAlignment = alignof(void*);
    a.wTypeFlags = d_.flags;
    a.wMajorVerNum = d_.major;
    a.wMinorVerNum = d_.minor;
    a.tdescAlias.vt = VT_EMPTY;
    return S_OK;
  }
  HRESULT GetTypeComp(ITypeComp** comp) override {
    if (comp != nullptr) *comp = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) override {
    if (desc == nullptr) return E_POINTER;
    *desc = nullptr;
    if (index >= d_.members.size()) return TYPE_E_ELEMENTNOTFOUND;
    const MemberDescription& m = d_.members[index];
    const size_t params = m.params.size();
    const size_t bytes = sizeof(FuncDescBlock) + (params > 1 ? params - 1 : 0) * sizeof(ELEMDESC);
    auto* block = static_cast<FuncDescBlock*>(::operator new(bytes, std::nothrow));
    if (block == nullptr) return E_OUTOFMEMORY;
    std::memset(static_cast<void*>(block), 0, bytes);
    FUNCDESC& f = block->desc;
    f.memid = m.dispid;
    f.lprgelemdescParam = params > 0 ? block->params : nullptr;
    f.funckind = FUNC_DISPATCH;
    f.invkind = m.kind;
    f.callconv = CC_STDCALL;
    f.cParams = static_cast<int16_t>(params);
    f.elemdescFunc.tdesc.vt = m.result;
    for (size_t i = 0; i < params; ++i) {
      block->params[i].tdesc.vt = m.params[i].type;
      block->params[i].paramdesc.wParamFlags = m.params[i].flags;
    }
    *desc = &f;
    return S_OK;
  }
  HRESULT GetVarDesc(UINT, VARDESC** desc) override {
    if (desc != nullptr) *desc = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetNames(MEMBERID memid, BSTR* names, UINT max_names, UINT* count) override {
    if (names == nullptr || count == nullptr) return E_POINTER;
    *count = 0;
    const MemberDescription* m = Find(memid);
    if (m == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    auto put = [&](const char16_t* name) {
      if (name == nullptr || *count >= max_names) return true;
      names[*count] = SysAllocString(name);
      if (names[*count] == nullptr) return false;
      ++*count;
      return true;
    };
    bool ok = put(m->name);
    for (const ParamDescription& p : m->params) ok = ok && put(p.name);
    if (!ok) {
      for (UINT i = 0; i < *count; ++i) SysFreeString(names[i]);
      *count = 0;
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT GetRefTypeOfImplType(UINT, HREFTYPE* ref) override {
    if (ref != nullptr) *ref = 0;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetImplTypeFlags(UINT, int32_t* flags) override {
    if (flags != nullptr) *flags = 0;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetIDsOfNames(OLECHAR** names, UINT count, MEMBERID* memids) override {
    return d_.ids_of_names(names, count, memids);
  }
  HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep_info, UINT* arg_err) override {
    if (instance == nullptr) return E_INVALIDARG;
    return d_.invoke(instance, memid, flags, params, result, excep_info, arg_err);
  }
  HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, uint32_t* help_context,
                           BSTR* help_file) override {
    const char16_t* text = nullptr;
    if (memid == MEMBERID_NIL) {
      text = d_.name;
    } else if (const MemberDescription* m = Find(memid)) {
      text = m->name;
    } else {
      return TYPE_E_ELEMENTNOTFOUND;
    }
    if (doc != nullptr) *doc = nullptr;
    if (help_context != nullptr) *help_context = 0;
    if (help_file != nullptr) *help_file = nullptr;
    if (name != nullptr) {
      *name = SysAllocString(text);
      if (*name == nullptr) return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR* dll, BSTR* name, WORD* ordinal) override {
    if (dll != nullptr) *dll = nullptr;
    if (name != nullptr) *name = nullptr;
    if (ordinal != nullptr) *ordinal = 0;
    return TYPE_E_BADMODULEKIND;
  }
  HRESULT GetRefTypeInfo(HREFTYPE, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void** address) override {
    if (address != nullptr) *address = nullptr;
    return TYPE_E_BADMODULEKIND;
  }
  HRESULT CreateInstance(IUnknown*, REFIID, void** object) override {
    if (object != nullptr) *object = nullptr;
    return TYPE_E_WRONGTYPEKIND;
  }
  HRESULT GetMops(MEMBERID, BSTR* mops) override {
    if (mops == nullptr) return E_POINTER;
    *mops = nullptr;
    return S_OK;
  }
  HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override {
    if (lib != nullptr) *lib = nullptr;
    if (index != nullptr) *index = 0;
    return E_NOTIMPL;
  }
  void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
  void ReleaseFuncDesc(FUNCDESC* desc) override {
    ::operator delete(reinterpret_cast<FuncDescBlock*>(desc));
  }
  void ReleaseVarDesc(VARDESC*) override {}

 private:
  ~DescribedTypeInfo() = default;

  const MemberDescription* Find(MEMBERID memid) const {
    for (const MemberDescription& m : d_.members) {
      if (m.dispid == memid) return &m;
    }
    return nullptr;
  }

  const InterfaceDescription& d_;
};

}  // namespace

ITypeInfo* NewTypeInfo(const InterfaceDescription& description) {
  auto* info = new (std::nothrow) DescribedTypeInfo(description);
  if (info != nullptr) info->AddRef();
  return info;
}

}  // namespace vz::com
