#include "cli/replace_file.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "cli/write.h"

namespace vz::cli {
namespace {

// The temporary files being written, where a signal handler can read them
// without taking a lock: a slot is claimed (kClaimed), its path filled in,
// then published (kPending); it is freed once the file is renamed or gone.
enum SlotState : int { kFree = 0, kClaimed = 1, kPending = 2 };
struct PendingSlot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX] = {};
};
constexpr int kSlots = 512;
constinit PendingSlot g_pending[kSlots];

// Publishes `path` in a free slot; nullptr when every slot is taken or the
// path is too long (the file is then only not removed on a hard stop).
PendingSlot* Publish(const std::string& path) {
  if (path.size() >= PATH_MAX) return nullptr;
  for (PendingSlot& slot : g_pending) {
    int expected = kFree;
    if (!slot.state.compare_exchange_strong(expected, kClaimed)) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.state.store(kPending, std::memory_order_release);
    return &slot;
  }
  return nullptr;
}

void Withdraw(PendingSlot* slot) {
  if (slot != nullptr) slot->state.store(kFree, std::memory_order_release);
}

}  // namespace

bool IsTemporaryName(const std::string& name) {
  const size_t mark = name.rfind(".tmp-");
  return name.size() > 1 && name[0] == '.' && mark != std::string::npos && mark > 1 &&
         mark + 5 < name.size() &&
         name.find_first_not_of("0123456789", mark + 5) == std::string::npos;
}

void RemovePendingTemporaryFiles() {
  for (PendingSlot& slot : g_pending) {
    if (slot.state.load(std::memory_order_acquire) == kPending) unlink(slot.path);
  }
}

bool ReplaceFile(const std::string& dir, const std::string& name, const std::string& bytes,
                 std::string* problem) {
  return ReplaceFile(dir, name, std::vector<std::string_view>{bytes}, problem);
}

bool ReplaceFile(const std::string& dir, const std::string& name,
                 const std::vector<std::string_view>& pieces, std::string* problem) {
  const std::string path = dir + "/" + name;
  const std::string temp = dir + "/." + name + ".tmp-" + std::to_string(getpid());
  PendingSlot* slot = Publish(temp);
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  int fd = open(temp.c_str(), kFlags, 0666);
  if (fd < 0 && errno == EEXIST) {
    // Left by an earlier process that had this process's number: it is gone.
    unlink(temp.c_str());
    fd = open(temp.c_str(), kFlags, 0666);
  }
  if (fd < 0) {
    const int saved = errno;
    Withdraw(slot);
    *problem = "cannot write '" + path + "': " + std::strerror(saved);
    return false;
  }
  bool ok = true;
  for (std::string_view piece : pieces) ok = ok && WriteAll(fd, piece);
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    *problem = "cannot write '" + path + "': " + std::strerror(saved);
  }
  Withdraw(slot);
  return ok;
}

}  // namespace vz::cli
