#include "platform/memory.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "platform/text.h"

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it harmlessly
#endif

namespace vz {
namespace {

constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
constexpr uintptr_t kSmallPage = uintptr_t{4} << 10;
constexpr int kDefaultTopPad = 128 << 10;  // glibc's M_TOP_PAD

// Has the kernel supply the small pages of [from, to) now.
void Populate(uintptr_t from, uintptr_t to) {
  from = (from + kSmallPage - 1) & ~(kSmallPage - 1);
  to &= ~(kSmallPage - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
}

// Whether the system gives huge pages to memory that asks for them, as
// /sys/kernel/mm/transparent_hugepage/enabled tells ("[always]" or
// "[madvise]" chosen); read once.
bool HugePagesOnRequest() {
  static const bool offered = [] {
    const int fd = open("/sys/kernel/mm/transparent_hugepage/enabled", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[128] = {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    return n > 0 &&
           (std::strstr(text, "[always]") != nullptr || std::strstr(text, "[madvise]") != nullptr);
  }();
  return offered;
}

// The stretch of the main heap advised by UseHugePagesForHeap, if any.
std::atomic<uintptr_t> g_huge_heap_first{0};
std::atomic<uintptr_t> g_huge_heap_last{0};

}  // namespace

void PrepareLargeBuffer(void* data, size_t bytes) {
  if (bytes < kLargeBufferBytes) return;
  const auto begin = reinterpret_cast<uintptr_t>(data);
  const uintptr_t end = begin + bytes;
  const uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t last = end & ~(kHugePage - 1);
  if (bytes >= kHugeBufferBytes && last > first && HugePagesOnRequest() &&
      madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) == 0) {
    // The whole huge pages come one fault each as they are first written,
    // and are cleared just before use, while they are still in the cache;
    // room never written costs nothing. The ragged ends keep small pages,
    // supplied now.
    Populate(begin, first);
    Populate(last, end);
    return;
  }
  Populate(begin, end);
}

void UseHugePagesForHeap(size_t bytes) {
  if (!HugePagesOnRequest()) return;
  // The allocator takes its pad beyond a request whenever the heap grows:
  // one request larger than the free top of the heap makes it grow and takes
  // the `bytes` at once. The request runs from the start of the free top to
  // just before the first 2 MB page past the heap's old end, and is kept:
  // what comes after it starts on huge pages instead of filling the rest of
  // the old end's page 4 KB at a time (up to 512 faults, as the heap's place
  // fell). And the allocator writes the new top's header just past the
  // request, in a page the advice leaves out: a 2 MB page touched before it
  // is advised keeps small pages for good.
  static void* set_aside = nullptr;
  void* const top = sbrk(0);
  if (top == reinterpret_cast<void*>(-1) || set_aside != nullptr) return;
  const uintptr_t before = reinterpret_cast<uintptr_t>(top);
  const uintptr_t free_top = before - mallinfo2().keepcost;
  const uintptr_t first = (before + 2 * kSmallPage + kHugePage - 1) & ~(kHugePage - 1);
  mallopt(M_TOP_PAD, static_cast<int>(std::min<size_t>(bytes, INT_MAX)));
  set_aside = std::malloc(first - kSmallPage - free_top);
  mallopt(M_TOP_PAD, kDefaultTopPad);
  const uintptr_t after = reinterpret_cast<uintptr_t>(sbrk(0));
  const uintptr_t last = after & ~(kHugePage - 1);
  if (last <= first) return;
  if (madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) != 0) return;
  g_huge_heap_first.store(first, std::memory_order_relaxed);
  g_huge_heap_last.store(last, std::memory_order_relaxed);
}

void* AllocateLargeBuffer(size_t& bytes) {
  if (bytes < kHugeBufferBytes || !HugePagesOnRequest()) return std::malloc(bytes);
  const size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
  void* block = std::aligned_alloc(kHugePage, rounded);
  if (block != nullptr) bytes = rounded;
  return block;
}

namespace {

struct FreeBlock {
  void operator()(char* block) const { std::free(block); }
};
using Block = std::unique_ptr<char, FreeBlock>;

// A scratch buffer: from the heap where that comes in huge pages (the main
// thread of a program that asked for it), sharing the 2 MB pages the rest of
// the heap faults in anyway, since a page of its own would be one more 2 MB
// cleared, for a small file as much as for a large one; else, where the
// system gives huge pages on request, alone in one, which comes in one
// fault; else with its small pages supplied at once. Each costs a fraction
// of faulting in its small pages one by one.
Block NewScratch() {
  if (const uintptr_t heap_first = g_huge_heap_first.load(std::memory_order_relaxed);
      heap_first != 0) {
    void* block = std::malloc(ScratchBuffer::kScratchBytes);
    const auto at = reinterpret_cast<uintptr_t>(block);
    if (at >= heap_first &&
        at + ScratchBuffer::kScratchBytes <= g_huge_heap_last.load(std::memory_order_relaxed))
      return Block(static_cast<char*>(block));
    std::free(block);
  }
  if (HugePagesOnRequest()) {
    void* block = std::aligned_alloc(kHugePage, kHugePage);
    if (block != nullptr && madvise(block, kHugePage, MADV_HUGEPAGE) == 0)
      return Block(static_cast<char*>(block));
    std::free(block);
  }
  void* block = std::malloc(ScratchBuffer::kScratchBytes);
  if (block == nullptr) throw std::bad_alloc();
  PrepareLargeBuffer(block, ScratchBuffer::kScratchBytes);
  return Block(static_cast<char*>(block));
}

// The thread's scratch buffer, made at its first use, and whether a
// ScratchBuffer holds it.
struct ThreadScratch {
  Block block;
  bool held = false;
};
thread_local ThreadScratch t_scratch;

}  // namespace

ScratchBuffer::ScratchBuffer() {
  ThreadScratch& scratch = t_scratch;
  own_ = scratch.held;
  if (own_) {
    data_ = new char[kScratchBytes];
    return;
  }
  if (!scratch.block) scratch.block = NewScratch();
  scratch.held = true;
  data_ = scratch.block.get();
}

ScratchBuffer::~ScratchBuffer() {
  if (own_) {
    delete[] data_;
  } else {
    t_scratch.held = false;
  }
}

void ReserveText(Text& s, size_t capacity) {
  if (capacity <= s.capacity()) return;
  if (capacity * sizeof(char16_t) < kLargeBufferBytes) {
    s.reserve(capacity);
    return;
  }
  // Prepare the new buffer before anything is written to it, the copy of the
  // old content included.
  Text bigger;
  bigger.reserve(capacity);
  PrepareLargeBuffer(bigger.data(), bigger.capacity() * sizeof(char16_t));
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
