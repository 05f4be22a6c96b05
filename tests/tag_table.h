// Tag tables for tests of the assembly, as the tag query returns them.

#ifndef VAVIZAR_TESTS_TAG_TABLE_H_
#define VAVIZAR_TESTS_TAG_TABLE_H_

#include <utility>
#include <vector>

#include "platform/ado/connection.h"

namespace vz {

// A tag table of `rows` rows and four columns: name, two unused, code.
inline ado::RowTable Table(const std::vector<std::pair<ado::Cell, ado::Cell>>& rows) {
  ado::RowTable table;
  table.columns = 4;
  table.rows = static_cast<int32_t>(rows.size());
  table.cells.resize(4 * rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    table.cells[0 * rows.size() + r] = rows[r].first;
    table.cells[1 * rows.size() + r] = int64_t{1};
    table.cells[3 * rows.size() + r] = rows[r].second;
  }
  return table;
}

}  // namespace vz

#endif  // VAVIZAR_TESTS_TAG_TABLE_H_
