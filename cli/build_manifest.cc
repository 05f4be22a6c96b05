#include "cli/build_manifest.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "store/page_source.h"

namespace vz::cli {
namespace {

constexpr char kManifestHeader[] =
    "# vavizar build manifest 2: file, set, hash of its inputs, size, hash of its bytes\n";

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

uint64_t Rotate(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

bool ParseHex(const std::string& text, uint64_t* value) {
  if (text.size() != 16 || text.find_first_not_of("0123456789abcdef") != std::string::npos)
    return false;
  *value = std::stoull(text, nullptr, 16);
  return true;
}

std::string Hex(uint64_t value) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016" PRIx64, value);
  return hex;
}

}  // namespace

void InputHash::AddWord(uint64_t word) {
  hash_ = Rotate(hash_ ^ (word * 0x87C37B91114253D5ull), 31) * 0x4CF5AD432745937Full;
}

void InputHash::AddField(std::string_view bytes) {
  AddWord(bytes.size());
  size_t at = 0;
  for (; at + 8 <= bytes.size(); at += 8) {
    uint64_t word;
    std::memcpy(&word, bytes.data() + at, 8);
    AddWord(word);
  }
  if (at < bytes.size()) {
    uint64_t word = 0;
    std::memcpy(&word, bytes.data() + at, bytes.size() - at);
    AddWord(word);
  }
}

uint64_t InputHash::value() const {
  // A final mix, so that every input bit reaches every output bit.
  uint64_t h = hash_;
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

uint64_t HashBytes(std::string_view bytes) {
  InputHash hash;
  hash.AddField(bytes);
  return hash.value();
}

Manifest ReadManifest(const std::string& path) {
  Manifest manifest;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string file, set, inputs, size, bytes, extra;
    if (!(fields >> file >> set >> inputs >> size >> bytes) || (fields >> extra)) continue;
    ManifestEntry entry;
    entry.set = set == "-" ? std::string() : set;
    if (!ParseHex(inputs, &entry.inputs) || !ParseHex(bytes, &entry.bytes)) continue;
    if (size.empty() || size.size() > 19 ||
        size.find_first_not_of("0123456789") != std::string::npos)
      continue;
    entry.size = std::stoull(size);
    manifest[file] = entry;
  }
  return manifest;
}

std::string ManifestText(const Manifest& manifest) {
  std::string text = kManifestHeader;
  for (const auto& [file, entry] : manifest) {
    text += file + " " + (entry.set.empty() ? "-" : entry.set) + " " + Hex(entry.inputs) + " " +
            std::to_string(entry.size) + " " + Hex(entry.bytes) + "\n";
  }
  return text;
}

uint64_t HashPageInputs(const PageInputSettings& settings, const PageInputs& inputs) {
  InputHash hash;
  hash.AddField(settings.execute ? "exec" : "asp");
  hash.AddField(settings.encoding);
  hash.AddField(settings.code_page);
  hash.AddField(ToUtf8(settings.set_id));
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
