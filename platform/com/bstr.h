// BSTR: the length-counted UTF-16 text of the component interface.
//
// A BSTR points at the first character; the 32-bit byte length sits in the four
// bytes before it and a NUL character follows the text. A null BSTR is the
// empty text. Every BSTR handed out through an interface belongs to the
// receiver, who frees it with SysFreeString.

#ifndef VAVIZAR_PLATFORM_COM_BSTR_H_
#define VAVIZAR_PLATFORM_COM_BSTR_H_

#include <cstdint>

#include "platform/com/types.h"
#include "platform/text.h"

namespace vz::com {

using BSTR = OLECHAR*;

// A new BSTR holding `length` characters copied from `chars` (left
// uninitialised when `chars` is null). Null when memory runs out or the length
// cannot be represented.
BSTR SysAllocStringLen(const OLECHAR* chars, UINT length);
// A new BSTR holding the NUL-terminated `chars`; null for a null argument.
BSTR SysAllocString(const OLECHAR* chars);
void SysFreeString(BSTR s);
// Length in characters; 0 for a null BSTR.
UINT SysStringLen(BSTR s);
UINT SysStringByteLen(BSTR s);

// The text of a BSTR as a view (empty for null).
inline TextView BstrView(BSTR s) {
  return s == nullptr ? TextView() : TextView(s, SysStringLen(s));
}

// Owns one BSTR and frees it on destruction.
class Bstr {
 public:
  Bstr() = default;
  // Raises failure 7 when memory runs out.
  explicit Bstr(TextView text);
  ~Bstr() { SysFreeString(s_); }
  Bstr(Bstr&& other) noexcept : s_(other.Detach()) {}
  Bstr& operator=(Bstr&& other) noexcept;
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR get() const { return s_; }
  TextView view() const { return BstrView(s_); }
  // The address to hand to a member that stores a new BSTR; frees the old one.
  BSTR* Out();
  // Gives up ownership.
  BSTR Detach() {
    BSTR s = s_;
    s_ = nullptr;
    return s;
  }

 private:
  BSTR s_ = nullptr;
};

// A BSTR built in place, for a long text written piece by piece: the
// characters go straight into the block that becomes the string, which grows
// without copying where the allocator can move pages, and is not copied
// again at the end. A large block lies in whole huge pages where the system
// offers them (platform/memory.h).
class BstrBuilder final : public CharBuffer {
 public:
  BstrBuilder() = default;
  ~BstrBuilder();  // frees an unfinished block
  BstrBuilder(const BstrBuilder&) = delete;
  BstrBuilder& operator=(const BstrBuilder&) = delete;

  // Where the characters go, with room for at least `capacity` of them; the
  // first `keep` written before stay. A capacity within the room there is
  // changes nothing: Reserve(n, n) gives back the place of n characters
  // written. Raises 7 when memory runs out and 14 for a capacity a BSTR
  // cannot hold. REQUIRES: keep <= the capacity before, keep <= capacity.
  OLECHAR* Reserve(size_t keep, size_t capacity) override;
  // The string of the first `length` characters written (null for none);
  // the builder is empty afterwards. REQUIRES: length <= the capacity
  // reserved.
  Bstr Finish(size_t length);

 private:
  OLECHAR* Chars() const;

  void* block_ = nullptr;
  size_t capacity_ = 0;
};

}  // namespace vz::com

#endif  // VAVIZAR_PLATFORM_COM_BSTR_H_
