#include "cli/build_manifest.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "store/page_source.h"

namespace vz::cli {
namespace {

constexpr char kManifestHeader[] = "# vavizar build manifest: page, hash of its inputs\n";

// A cell with its kind, so that NULL, 1 and "1" hash apart.
void AddCell(InputHash& hash, const ado::Cell& cell) {
  if (ado::IsNull(cell)) {
    hash.AddField("N");
    return;
  }
  const char* kind = std::holds_alternative<int64_t>(cell)  ? "I"
                     : std::holds_alternative<double>(cell) ? "R"
                                                            : "T";
  hash.AddField(kind);
  hash.AddField(ToUtf8(ado::CellText(cell)));
}

}  // namespace

void InputHash::AddBytes(std::string_view bytes) {
  for (unsigned char c : bytes) {
    hash_ ^= c;
    hash_ *= 1099511628211ull;
  }
}

void InputHash::AddField(std::string_view bytes) {
  char length[24];
  int n = std::snprintf(length, sizeof length, "%zu:", bytes.size());
  AddBytes(std::string_view(length, static_cast<size_t>(n)));
  AddBytes(bytes);
}

Manifest ReadManifest(const std::string& path) {
  Manifest manifest;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string page, hex, extra;
    if (!(fields >> page >> hex) || (fields >> extra)) continue;
    if (hex.size() != 16 || hex.find_first_not_of("0123456789abcdef") != std::string::npos)
      continue;
    manifest[page] = std::stoull(hex, nullptr, 16);
  }
  return manifest;
}

std::string ManifestText(const Manifest& manifest) {
  std::string text = kManifestHeader;
  for (const auto& [page, hash] : manifest) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016" PRIx64, hash);
    text += page + " " + hex + "\n";
  }
  return text;
}

uint64_t HashPageInputs(ado::Connection& conn, const PageInputSettings& settings,
                        const Text& page_id) {
  InputHash hash;
  hash.AddField(settings.execute ? "exec" : "asp");
  hash.AddField(settings.encoding);
  hash.AddField(settings.code_page);
  hash.AddField(ToUtf8(settings.set_id));

  const PageInputs inputs = ReadPageInputs(conn, settings.templet_root, settings.set_id, page_id);
  if (!inputs.registered) {
    hash.AddField("no template");
  } else {
    AddCell(hash, inputs.tmpl_file);
    hash.AddField(ToUtf8(inputs.path));
    if (inputs.read_failure) {
      hash.AddField("unreadable");
      hash.AddField(std::to_string(inputs.read_failure->number()));
    } else {
      hash.AddField("text");
      hash.AddField(std::string_view(reinterpret_cast<const char*>(inputs.text.data()),
                                     inputs.text.size() * sizeof(char16_t)));
    }
  }
  const ado::RowTable& rows = inputs.tags;
  hash.AddField(std::to_string(rows.columns));
  for (int32_t row = 0; row < rows.rows; ++row) {
    for (int32_t column = 0; column < rows.columns; ++column) AddCell(hash, rows.At(column, row));
  }
  return hash.value();
}

}  // namespace vz::cli
