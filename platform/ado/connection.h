// The data-access objects the component calls: a connection and the record
// sets its statements return.
//
// A host opens a `Connection` and lends it to a `Page`, which holds one counted
// reference and only runs statements on it. Statements return a `Recordset`
// positioned on its first row; the component reads it and closes it within
// the same call. Operations raise `Failure` (number and description) when the
// database or the connection fails.

#ifndef VAVIZAR_PLATFORM_ADO_CONNECTION_H_
#define VAVIZAR_PLATFORM_ADO_CONNECTION_H_

#include <cstdint>
#include <variant>
#include <vector>

#include "platform/com/ref.h"
#include "platform/com/unknown.h"
#include "platform/text.h"

namespace vz::ado {

// Options value of Execute: command type left unspecified.
inline constexpr int32_t adOptionUnspecified = -1;
// Rows value of GetRows: every remaining row.
inline constexpr int32_t adGetRowsRest = -1;

// A value as the database delivered it: NULL, an integer, a real or a text.
using Cell = std::variant<std::monostate, int64_t, double, Text>;

inline bool IsNull(const Cell& cell) { return std::holds_alternative<std::monostate>(cell); }

// The text form of a cell, by the run-time's rules: an integer in plain
// decimal, a real as DoubleText writes it (15 significant digits), a text as
// it is.
// NULL raises 94 "Invalid use of Null".
Text CellText(const Cell& cell);

// All rows of a result, indexed [column][row], both from 0, in the column order
// of the result and the row order of delivery.
struct RowTable {
  int32_t columns = 0;
  int32_t rows = 0;
  std::vector<Cell> cells;  // column-major: cells[column * rows + row]

  const Cell& At(int32_t column, int32_t row) const {
    return cells[static_cast<size_t>(column) * static_cast<size_t>(rows) +
                 static_cast<size_t>(row)];
  }
};

class Recordset : public com::IUnknown {
 public:
  // True when there is no current row; right after Execute, when the result
  // holds no row at all.
  virtual bool Eof() = 0;
  // Fields(name).Value: the named column's value in the current row.
  virtual Cell FieldValue(const Text& name) = 0;
  // Reads `rows` rows (every remaining one for adGetRowsRest) from the current
  // row on, every column, in one call.
  virtual RowTable GetRows(int32_t rows) = 0;
  // Closes the result; releasing the last reference closes it too.
  virtual void Close() = 0;

 protected:
  ~Recordset() = default;
};

class Connection : public com::IUnknown {
 public:
  // Runs `command_text` and returns its result positioned on the first row.
  virtual com::Ref<Recordset> Execute(const Text& command_text, int32_t options) = 0;

 protected:
  ~Connection() = default;
};

// Interface identifiers, for reaching these interfaces from a late-bound
// object reference through QueryInterface. They name this layer's interfaces,
// whose tables differ from those of other data-access libraries.
inline constexpr com::IID IID_Connection{
    0xa2ef4d45, 0x5f2c, 0x42d4, {0xa4, 0x18, 0xc5, 0xbd, 0x8e, 0xa7, 0x91, 0x51}};
inline constexpr com::IID IID_Recordset{
    0xbec88eef, 0x9d94, 0x4b24, {0x82, 0x94, 0x63, 0xdd, 0x75, 0xc3, 0xc6, 0x40}};

}  // namespace vz::ado

#endif  // VAVIZAR_PLATFORM_ADO_CONNECTION_H_
