#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "platform/text.h"

namespace vz {
namespace {

constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
// Below this a buffer gains nothing from huge pages.
constexpr size_t kLargeBytes = size_t{4} << 20;

// Advises the whole huge pages inside the buffer of `s`; its ragged ends keep
// small pages. The advice only changes how pages are supplied, never the
// content, and is harmless where huge pages are unavailable.
void AdviseHugePages(Text& s) {
  const size_t bytes = s.capacity() * sizeof(char16_t);
  const auto begin = reinterpret_cast<uintptr_t>(s.data());
  const uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace

void ReserveText(Text& s, size_t capacity) {
  if (capacity <= s.capacity()) return;
  if (capacity * sizeof(char16_t) < kLargeBytes) {
    s.reserve(capacity);
    return;
  }
  // Advise the new buffer before anything is written to it, the copy of the
  // old content included.
  Text bigger;
  bigger.reserve(capacity);
  AdviseHugePages(bigger);
  bigger.append(s);
  s.swap(bigger);
}

void GrowText(Text& s, size_t extra) {
  const size_t need = s.size() + extra;
  if (need <= s.capacity()) return;
  ReserveText(s, std::max(need, s.capacity() * 2));
}

namespace {

int64_t InitialLimit() {
  const char* variable = std::getenv("VAVIZAR_MAX_CHARS");
  if (variable == nullptr || *variable == 0) return kMaxTextLength;
  char* end = nullptr;
  const long long value = std::strtoll(variable, &end, 10);
  if (*end != 0 || value < 1 || value > kMaxTextLength) return kMaxTextLength;
  return value;
}

std::atomic<int64_t>& Limit() {
  static std::atomic<int64_t> limit{InitialLimit()};
  return limit;
}

}  // namespace

int64_t WorkingTextLimit() { return Limit().load(std::memory_order_relaxed); }

void SetWorkingTextLimit(int64_t limit) {
  Limit().store(std::clamp<int64_t>(limit, 1, kMaxTextLength), std::memory_order_relaxed);
}

}  // namespace vz
