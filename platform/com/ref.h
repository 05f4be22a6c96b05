// Ref<T>: holds one counted reference to an object, like the smart pointers
// of component platforms. Copying adds a reference, destruction gives it back.

#ifndef VAVIZAR_PLATFORM_COM_REF_H_
#define VAVIZAR_PLATFORM_COM_REF_H_

#include <utility>

namespace vz::com {

template <typename T>
class Ref {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}
  // Takes a new reference to `p`.
  explicit Ref(T* p) : p_(p) {
    if (p_ != nullptr) p_->AddRef();
  }
  // Adopts a reference the caller already owns.
  static Ref Adopt(T* p) {
    Ref r;
    r.p_ = p;
    return r;
  }
  Ref(const Ref& other) : Ref(other.p_) {}
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Ref() {
    if (p_ != nullptr) p_->Release();
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Gives up the reference without releasing it.
  T* Detach() { return std::exchange(p_, nullptr); }
  // Releases the held reference and returns the address for an out-parameter.
  T** Out() {
    *this = nullptr;
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace vz::com

#endif  // VAVIZAR_PLATFORM_COM_REF_H_
