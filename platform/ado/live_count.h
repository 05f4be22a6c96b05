// The count behind LiveRecordsets (internal to platform/ado).

#ifndef VAVIZAR_PLATFORM_ADO_LIVE_COUNT_H_
#define VAVIZAR_PLATFORM_ADO_LIVE_COUNT_H_

#include <atomic>
#include <cstdint>

namespace vz::ado {

// Incremented by every record set's constructor, decremented by its destructor.
extern std::atomic<int64_t> live_recordsets;

}  // namespace vz::ado

#endif  // VAVIZAR_PLATFORM_ADO_LIVE_COUNT_H_
