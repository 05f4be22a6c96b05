// A place where tests make the Nth call fail: FailNth(n) arms it, each call
// the layer makes asks Inject(), and the nth answers true. A sweep sets
// n = 1, 2, ... and runs the same operation until Fired() stays false.
//
// Each layer that offers the seam has one point per thread; its fault.h
// (platform/ado, platform/fso) gives the layer's names for it.

#ifndef VAVIZAR_PLATFORM_FAULT_POINT_H_
#define VAVIZAR_PLATFORM_FAULT_POINT_H_

#include <cstdint>

namespace vz {

class FaultPoint {
 public:
  // Restarts the count: call number `n` from now fails. 0 injects nothing.
  void FailNth(int64_t n) {
    fail_at_ = n;
    calls_ = 0;
    fired_ = false;
  }
  // True once the armed call has failed (since the last FailNth).
  bool Fired() const { return fired_; }
  // Counts one call; true when this one must fail.
  bool Inject() {
    if (fail_at_ <= 0 || ++calls_ != fail_at_) return false;
    fired_ = true;
    return true;
  }

 private:
  int64_t fail_at_ = 0;
  int64_t calls_ = 0;
  bool fired_ = false;
};

// The layers with a fault point.
enum class FaultLayer { kDatabase, kFiles };

// The calling thread's fault point of `layer`.
FaultPoint& ThreadFaultPoint(FaultLayer layer);

}  // namespace vz

#endif  // VAVIZAR_PLATFORM_FAULT_POINT_H_
