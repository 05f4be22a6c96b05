#include "platform/com/bstr.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "platform/failure.h"
#include "platform/memory.h"

namespace vz::com {
namespace {

constexpr size_t kPrefix = sizeof(uint32_t);

// The header holds the byte length; keep the text 8-byte aligned after it.
struct Header {
  uint32_t pad;
  uint32_t bytes;
};

Header* HeaderOf(BSTR s) {
  return reinterpret_cast<Header*>(reinterpret_cast<char*>(s) - sizeof(Header));
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* chars, UINT length) {
  static_assert(sizeof(Header) == 2 * kPrefix);
  constexpr uint64_t kMaxBytes =
      std::numeric_limits<uint32_t>::max() - sizeof(Header) - sizeof(OLECHAR);
  uint64_t bytes = uint64_t{length} * sizeof(OLECHAR);
  if (bytes > kMaxBytes) return nullptr;
  size_t size = sizeof(Header) + bytes + sizeof(OLECHAR);
  void* block = AllocateLargeBuffer(size);
  if (block == nullptr) return nullptr;
  PrepareLargeBuffer(block, size);
  auto* header = static_cast<Header*>(block);
  header->pad = 0;
  header->bytes = static_cast<uint32_t>(bytes);
  auto* text = reinterpret_cast<OLECHAR*>(header + 1);
  if (chars != nullptr && length != 0) std::memcpy(text, chars, bytes);
  text[length] = 0;
  return text;
}

BSTR SysAllocString(const OLECHAR* chars) {
  if (chars == nullptr) return nullptr;
  return SysAllocStringLen(chars, static_cast<UINT>(std::char_traits<char16_t>::length(chars)));
}

void SysFreeString(BSTR s) {
  if (s != nullptr) std::free(HeaderOf(s));
}

UINT SysStringLen(BSTR s) { return s == nullptr ? 0 : HeaderOf(s)->bytes / sizeof(OLECHAR); }

UINT SysStringByteLen(BSTR s) { return s == nullptr ? 0 : HeaderOf(s)->bytes; }

BstrBuilder::~BstrBuilder() { std::free(block_); }

OLECHAR* BstrBuilder::Chars() const {
  return reinterpret_cast<OLECHAR*>(static_cast<Header*>(block_) + 1);
}

OLECHAR* BstrBuilder::Reserve(size_t keep, size_t capacity) {
  constexpr uint64_t kMaxChars = (std::numeric_limits<uint32_t>::max() - sizeof(Header)) / 2 - 1;
  if (block_ != nullptr && capacity <= capacity_) return Chars();
  if (capacity > kMaxChars) Raise(kOutOfStringSpace);
  size_t size = sizeof(Header) + (capacity + 1) * sizeof(OLECHAR);
  void* block;
  if (keep == 0) {
    // Nothing to keep: a fresh block, readied before anything is written.
    block = AllocateLargeBuffer(size);
    if (block == nullptr) throw std::bad_alloc();
    std::free(block_);
    PrepareLargeBuffer(block, size);
  } else {
    block = std::realloc(block_, size);
    if (block == nullptr) throw std::bad_alloc();
  }
  block_ = block;
  // The room a rounded block has past what was asked is room too.
  capacity_ = std::min<size_t>((size - sizeof(Header)) / sizeof(OLECHAR) - 1, kMaxChars);
  return Chars();
}

Bstr BstrBuilder::Finish(size_t length) {
  Bstr result;
  if (length == 0) {
    // The empty text is the null BSTR.
    std::free(block_);
    block_ = nullptr;
    capacity_ = 0;
    return result;
  }
  // Give back the room not used; a block that cannot shrink stays as it is.
  const size_t size = sizeof(Header) + (length + 1) * sizeof(OLECHAR);
  if (void* smaller = length < capacity_ ? std::realloc(block_, size) : nullptr) block_ = smaller;
  auto* header = static_cast<Header*>(block_);
  header->pad = 0;
  header->bytes = static_cast<uint32_t>(length * sizeof(OLECHAR));
  auto* text = reinterpret_cast<OLECHAR*>(header + 1);
  text[length] = 0;
  *result.Out() = text;
  block_ = nullptr;
  capacity_ = 0;
  return result;
}

Bstr::Bstr(TextView text) {
  if (text.empty()) return;
  if (text.size() > static_cast<size_t>(kMaxTextLength)) Raise(kOutOfStringSpace);
  s_ = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (s_ == nullptr) Raise(kOutOfMemory);
}

Bstr& Bstr::operator=(Bstr&& other) noexcept {
  if (this != &other) {
    SysFreeString(s_);
    s_ = other.Detach();
  }
  return *this;
}

BSTR* Bstr::Out() {
  SysFreeString(s_);
  s_ = nullptr;
  return &s_;
}

}  // namespace vz::com
