#include "cli/build_manifest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/com/ref.h"

namespace vz::cli {
namespace {

constexpr char kManifestHeader[] = "# vavizar build manifest: page, hash of its inputs\n";

// The whole file at `path`, or nothing with the reason in `problem`.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* problem) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *problem = std::strerror(errno);
    return false;
  }
  bytes->clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *problem = std::strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    bytes->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

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

  // The template, found as the component finds it.
  const Text set_value = settings.set_id.empty() ? Text(u"null") : settings.set_id;
  com::Ref<ado::Recordset> rs =
      conn.Execute(Concat({u"select tmpl_file from web_templet where page_id=", page_id,
                           u" and tset_id=", set_value}),
                   ado::adOptionUnspecified);
  if (rs->Eof()) {
    hash.AddField("no template");
  } else {
    ado::Cell file = rs->FieldValue(u"tmpl_file");
    AddCell(hash, file);
    const Text root = settings.has_root ? settings.templet_root : Text();
    const Text joined = ado::IsNull(file) ? root : Concat({root, ado::CellText(file)});
    std::string path = ToUtf8(joined);
    for (char& c : path) {
      if (c == '\\') c = '/';
    }
    std::string bytes, problem;
    if (ReadWholeFile(path, &bytes, &problem)) {
      hash.AddField("file");
      hash.AddField(bytes);
    } else {
      hash.AddField("unreadable");
      hash.AddField(problem);
    }
  }
  rs->Close();

  // The tag rows, read with the component's own statement.
  com::Ref<ado::Recordset> tags =
      conn.Execute(Concat({u"select * from web_tag where FunID is null or FunID in ",
                           u"(select FunID from web_page2func where page_id=", page_id, u")"}),
                   ado::adOptionUnspecified);
  if (!tags->Eof()) {
    ado::RowTable rows = tags->GetRows(ado::adGetRowsRest);
    hash.AddField(std::to_string(rows.columns));
    for (int32_t row = 0; row < rows.rows; ++row) {
      for (int32_t column = 0; column < rows.columns; ++column) AddCell(hash, rows.At(column, row));
    }
  }
  tags->Close();
  return hash.value();
}

}  // namespace vz::cli
