// The manifest of `vavizar build --changed`: for each page of an output
// folder, a hash of the inputs its file was generated from. A page whose
// inputs hash the same as in the manifest, and whose file is still there,
// need not be generated again. Runs with --changed record the pages they
// write; a run without it drops the entries of the pages it writes, which a
// later --changed run then generates once more.
//
// The file is text, one page a line after a comment line:
//   # vavizar build manifest: page, hash of its inputs
//   1 8f1c0a3e5b7d9241
//   12 03ab44e0c7f1d9a6

#ifndef VAVIZAR_CLI_BUILD_MANIFEST_H_
#define VAVIZAR_CLI_BUILD_MANIFEST_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/ado/connection.h"
#include "platform/text.h"

namespace vz::cli {

// 64-bit FNV-1a over a sequence of fields. Each field is length-prefixed, so
// ("ab", "c") and ("a", "bc") hash apart.
class InputHash {
 public:
  void AddField(std::string_view bytes);
  uint64_t value() const { return hash_; }

 private:
  void AddBytes(std::string_view bytes);

  uint64_t hash_ = 14695981039346656037ull;
};

// Page identifier (its decimal text) to the hash of its inputs.
using Manifest = std::map<std::string, uint64_t>;

inline constexpr char kManifestName[] = "build.manifest";

// The manifest in the file `path`; empty when there is none. Lines that are
// not "PAGE HASH" are ignored.
Manifest ReadManifest(const std::string& path);

// The text of the manifest file.
std::string ManifestText(const Manifest& manifest);

// What, besides a page's own rows and template, its generated file depends
// on: the options that change the output and where templates are found.
struct PageInputSettings {
  Text set_id;        // the template set, as written into the statements
  Text templet_root;  // the folder as a Page keeps it (TempletRootOf), or ""
  bool execute = false;  // execute code rather than server-page code
  std::string encoding;
  std::string code_page;  // the code page in use for reading templates
};

// The hash of everything generating page `page_id` reads, as the component
// reads it (store/page_source.h): the settings, the template row, the
// template path and text (or why it cannot be read), and every tag row that
// applies to the page in the order the database delivers them. Raises when a
// query fails.
uint64_t HashPageInputs(ado::Connection& conn, const PageInputSettings& settings,
                        const Text& page_id);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_BUILD_MANIFEST_H_
