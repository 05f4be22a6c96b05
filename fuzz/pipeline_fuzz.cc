// libFuzzer target: a whole page from an in-memory template and tag rows.
// The assembly (with its index of comments and its partial updates), also
// on a page text of small blocks, must give exactly what handing every row
// to the expansion gives, and its execute code what the literal conversion
// gives. The origins recorded on the way must be those the literal passes
// give when run on characters that carry their origin.
//
// Input layout: pieces separated by NUL bytes: the template, then name and
// code of each row, at most eight rows. Each byte is one character; bytes
// from 0x80 up become CJK characters. A NUL cell stands for a row piece
// that is the single byte 0x01.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "execute/execute_code.h"
#include "fuzz/fuzz_text.h"
#include "generate/asp_code.h"
#include "generate/page_text.h"
#include "platform/failure.h"
#include "tests/execute_code_reference.h"
#include "tests/origins_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::vector<vz::ado::Cell> pieces;
  for (const std::optional<vz::Text>& piece : vz::fuzz::PiecesOfBytes(data, size))
    pieces.push_back(piece ? vz::ado::Cell(*piece) : vz::ado::Cell());
  const vz::Text templet = vz::ado::IsNull(pieces[0]) ? vz::Text() : std::get<vz::Text>(pieces[0]);
  const int32_t rows = static_cast<int32_t>(std::min<size_t>((pieces.size() - 1) / 2, 8));
  vz::ado::RowTable table;
  table.columns = 4;
  table.rows = rows;
  table.cells.resize(4 * static_cast<size_t>(rows));
  for (int32_t r = 0; r < rows; ++r) {
    table.cells[static_cast<size_t>(r)] = pieces[1 + 2 * static_cast<size_t>(r)];
    table.cells[3 * static_cast<size_t>(rows) + static_cast<size_t>(r)] =
        pieces[2 + 2 * static_cast<size_t>(r)];
  }
  vz::ExpandLimits limits;
  limits.max_length = 8192;

  vz::Text expected, actual;
  int32_t expected_failure = 0, actual_failure = 0;
  try {
    vz::Text text = templet;
    for (int32_t r = 0; r < rows; ++r) {
      vz::Text code = vz::ado::CellText(table.At(3, r));
      vz::Text name = vz::ado::CellText(table.At(0, r));
      text = vz::ExpandTag(std::move(text), std::move(name), std::move(code), limits);
    }
    expected = std::move(text);
  } catch (const vz::Failure& f) {
    expected_failure = f.number();
  }
  try {
    actual = vz::AssembleAspCode(templet, table, limits);
  } catch (const vz::Failure& f) {
    actual_failure = f.number();
  }
  if (actual_failure != expected_failure || actual != expected) {
    std::fprintf(stderr, "assembly differs from the row loop (failures %d / %d)\n", actual_failure,
                 expected_failure);
    std::abort();
  }
  // Again on a page text of small blocks, their size taken from the input's
  // length so that every size comes up.
  vz::Text on_blocks;
  int32_t blocks_failure = 0;
  vz::PageOrigins origins;
  try {
    vz::PageText page(templet, 1 + size % 7);
    vz::AssembleAspCode(page, table, limits, &origins);
    on_blocks = page.Take();
  } catch (const vz::Failure& f) {
    blocks_failure = f.number();
  }
  if (blocks_failure != expected_failure || on_blocks != expected) {
    std::fprintf(stderr, "assembly on blocks of %zu differs (failures %d / %d)\n", 1 + size % 7,
                 blocks_failure, expected_failure);
    std::abort();
  }
  if (actual_failure == 0) {
    vz::reference::Chars chars;
    vz::PageOrigins expected_origins;
    bool ends = false;
    try {
      ends = vz::reference::ReferenceAssembly(templet, table, chars, expected_origins);
    } catch (const vz::Failure&) {
    }
    std::string error;
    const std::vector<vz::Origin> per_character = vz::reference::PerCharacter(origins, error);
    if (!error.empty() || per_character.size() != actual.size()) {
      std::fprintf(stderr, "origins do not cover the page: %s\n", error.c_str());
      std::abort();
    }
    if (ends) {
      bool same = chars.size() == per_character.size() &&
                  origins.occurrences == expected_origins.occurrences &&
                  origins.rows == expected_origins.rows;
      for (size_t i = 0; same && i < chars.size(); ++i) same = chars[i].origin == per_character[i];
      if (!same) {
        std::fprintf(stderr, "origins differ from the literal passes\n");
        std::abort();
      }
    }
  }
  if (actual_failure == 0 && vz::ExecuteCodeOf(actual) != vz::reference::ExecuteCode(actual)) {
    std::fprintf(stderr, "execute code differs\n");
    std::abort();
  }
  return 0;
}
