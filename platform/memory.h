// Large buffers, for any layer that fills one. On these machines filling fresh
// memory one small page at a time costs far more than the work that fills
// it: every first touch of a 4 KB page is a fault. A buffer of several
// megabytes that is about to be written is better had in huge pages where
// the system offers them, else supplied at once.

#ifndef VAVIZAR_PLATFORM_MEMORY_H_
#define VAVIZAR_PLATFORM_MEMORY_H_

#include <cstddef>

namespace vz {

// The size from which PrepareLargeBuffer has the pages supplied at once.
inline constexpr size_t kLargeBufferBytes = size_t{256} << 10;
// The size from which it also asks for huge pages. Smaller buffers may lie
// in the middle of the heap, which the advice would split.
inline constexpr size_t kHugeBufferBytes = size_t{4} << 20;

// Readies [data, data + bytes) for writing. From kHugeBufferBytes on, where
// the system gives huge pages on request, the whole 2 MB pages inside it
// ask for them and come as they are first written (one fault each, cleared
// just before use); everything else has the kernel supply its pages now.
// Content and meaning are unchanged; where the system offers neither,
// nothing happens. Does nothing below kLargeBufferBytes.
void PrepareLargeBuffer(void* data, size_t bytes);

// For a program's start: has the heap the allocator keeps for the main thread
// come in huge pages from here on, where the system gives them on request.
// The next `bytes` of the heap are taken now (address only: nothing is
// touched) and advised, so that every buffer carved from them, large or
// small, is faulted in 2 MB at a time. The rest of the 2 MB page in which the
// heap ended is set aside for good (address only, at most 2 MB), so that
// nothing is handed out from it 4 KB page by 4 KB page. The allocator must
// take requests of 2 MB from its heap (M_MMAP_THRESHOLD above that) and must
// not hand the top of its heap back before `bytes` are in use
// (M_TRIM_THRESHOLD above `bytes`). Acts once; does nothing where the system
// offers no huge pages on request or the allocator keeps no such heap.
void UseHugePagesForHeap(size_t bytes);

// A block of at least `bytes` from std::malloc's heap (freed with std::free
// and grown with std::realloc), or null when memory runs out. From
// kHugeBufferBytes on, where the system gives huge pages on request, it
// starts on a 2 MB boundary and `bytes` is rounded up to whole 2 MB pages,
// so that PrepareLargeBuffer on all of it leaves no ragged ends to be
// supplied one small page at a time; `bytes` tells the size had.
void* AllocateLargeBuffer(size_t& bytes);

// Room for a step that needs it only while it runs (a file read in pieces,
// a text encoded for output in pieces): the calling thread's own buffer of
// kScratchBytes, kept for the thread's next such step, so that memory
// written once is written again instead of had fresh. It comes from a heap
// that UseHugePagesForHeap has advised, where the thread's blocks lie there,
// else from a huge page of its own, else with its pages supplied at once.
// While one ScratchBuffer of a thread holds it, another on the same thread
// gets a buffer of its own. Raises std::bad_alloc when memory runs out.
class ScratchBuffer {
 public:
  static constexpr size_t kScratchBytes = size_t{256} << 10;

  ScratchBuffer();
  ~ScratchBuffer();
  ScratchBuffer(const ScratchBuffer&) = delete;
  ScratchBuffer& operator=(const ScratchBuffer&) = delete;

  char* data() const { return data_; }
  size_t size() const { return kScratchBytes; }

 private:
  char* data_;
  bool own_;  // not the thread's buffer
};

}  // namespace vz

#endif  // VAVIZAR_PLATFORM_MEMORY_H_
