#include "platform/ado/connection.h"
#include "platform/failure.h"

namespace vz::ado {

Text CellText(const Cell& cell) {
  switch (cell.index()) {
    case 0:
      Raise(kInvalidUseOfNull);
    case 1:
      return DecimalText(std::get<int64_t>(cell));
    case 2:
      return DoubleText(std::get<double>(cell));
    default:
      return std::get<Text>(cell);
  }
}

}  // namespace vz::ado
