#include "cli/build_manifest.h"

#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "store/page_source.h"

namespace vz::cli {
namespace {

constexpr char kManifestHeader[] =
    "# vavizar build manifest 3: file, set, hash of its inputs, size, hash of its bytes\n";

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

namespace {

// The 128-bit product of `a` and `b`, its halves folded into 64 bits.
uint64_t FoldedProduct(uint64_t a, uint64_t b) {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

uint64_t Word(const char* at) {
  uint64_t word;
  std::memcpy(&word, at, 8);
  return word;
}

constexpr size_t kBlock = 48;  // three lanes of 16 bytes

}  // namespace

void InputHash::AddField(std::string_view bytes) {
  AddWord(bytes.size());
  const char* at = bytes.data();
  const char* const end = at + bytes.size();
  if (end - at >= static_cast<ptrdiff_t>(kBlock)) {
    // Long fields (templates, generated files) in three independent lanes,
    // 16 bytes a multiplication, so that the hash keeps up with the reads;
    // each lane ends up in the running hash.
    uint64_t lane[3] = {hash_ ^ 0xA0761D6478BD642Full, hash_ ^ 0xE7037ED1A0B428DBull,
                        hash_ ^ 0x8EBC6AF09C88C6E3ull};
    for (; end - at >= static_cast<ptrdiff_t>(kBlock); at += kBlock) {
      for (int k = 0; k < 3; ++k)
        lane[k] = FoldedProduct(Word(at + 16 * k) ^ 0x589965CC75374CC3ull,
                                Word(at + 16 * k + 8) ^ lane[k]);
    }
    for (uint64_t value : lane) AddWord(value);
  }
  for (; end - at >= 8; at += 8) AddWord(Word(at));
  if (at < end) {
    uint64_t word = 0;
    std::memcpy(&word, at, static_cast<size_t>(end - at));
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
