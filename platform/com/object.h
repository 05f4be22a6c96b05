// Object<Interface, kIids...>: the IUnknown half of a class that implements
// `Interface`. It answers IUnknown and each of `kIids` with the one
// interface pointer, counts references and deletes the object when the last
// one goes. A new object starts with no reference: the creator takes the
// first (com::Ref<T>(new T), or AddRef).
//
//   class Stream final : public com::Object<TextStream, IID_TextStream> { ... };

#ifndef VAVIZAR_PLATFORM_COM_OBJECT_H_
#define VAVIZAR_PLATFORM_COM_OBJECT_H_

#include <atomic>

#include "platform/com/unknown.h"

namespace vz::com {

template <typename Interface, const IID&... kIids>
class Object : public Interface {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || ((riid == kIids) || ...)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  Object() = default;
  // Virtual for the delete above; it comes after the interface's slots, so
  // the table callers see keeps its shape.
  virtual ~Object() = default;

 private:
  std::atomic<ULONG> refs_{0};
};

}  // namespace vz::com

#endif  // VAVIZAR_PLATFORM_COM_OBJECT_H_
