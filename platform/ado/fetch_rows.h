// GetRows for every provider (internal to platform/ado): the rows from the
// current one on, gathered into a column-major RowTable.

#ifndef VAVIZAR_PLATFORM_ADO_FETCH_ROWS_H_
#define VAVIZAR_PLATFORM_ADO_FETCH_ROWS_H_

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/ado/connection.h"
#include "platform/ado/errors.h"
#include "platform/failure.h"

namespace vz::ado {

// Reads `rows` rows (every remaining one for adGetRowsRest) of `columns`
// columns. `on_row` tells whether there is a current row, `take(column)`
// gives that row's cell and `next()` moves on, raising the database's
// failures. A row count of 0 or below adGetRowsRest raises 3001, no current
// row 3021, a row count past INT32_MAX 6.
template <typename Take, typename Next>
RowTable FetchRows(int32_t rows, int32_t columns, const bool& on_row, Take&& take, Next&& next) {
  if (rows == 0 || rows < adGetRowsRest) RaiseAdo(kBadArguments);
  if (!on_row) RaiseAdo(kNoCurrentRow);
  std::vector<std::vector<Cell>> by_column(static_cast<size_t>(columns));
  int32_t fetched = 0;
  while (on_row && (rows == adGetRowsRest || fetched < rows)) {
    if (fetched == INT32_MAX) Raise(kOverflow);
    for (int32_t i = 0; i < columns; ++i) by_column[static_cast<size_t>(i)].push_back(take(i));
    ++fetched;
    next();
  }
  RowTable table;
  table.columns = columns;
  table.rows = fetched;
  table.cells.reserve(static_cast<size_t>(columns) * static_cast<size_t>(fetched));
  for (std::vector<Cell>& column : by_column) {
    for (Cell& cell : column) table.cells.push_back(std::move(cell));
  }
  return table;
}

}  // namespace vz::ado

#endif  // VAVIZAR_PLATFORM_ADO_FETCH_ROWS_H_
