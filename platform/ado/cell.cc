#include <charconv>

#include "platform/ado/connection.h"
#include "platform/failure.h"

namespace vz::ado {

Text CellText(const Cell& cell) {
  switch (cell.index()) {
    case 0:
      Raise(kInvalidUseOfNull);
    case 1:
      return DecimalText(std::get<int64_t>(cell));
    case 2: {
      char buffer[64];
      auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, std::get<double>(cell));
      return Text(buffer, end);
    }
    default:
      return std::get<Text>(cell);
  }
}

}  // namespace vz::ado
