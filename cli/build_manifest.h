// The manifest of `vavizar build`: every file the command wrote into an
// output folder, with what it was generated from and what it holds. A later
// run uses it to skip pages that are current (--changed) and to find files
// of pages that are no longer registered (--prune).
//
// The file is text, one file a line after a comment line:
//   # vavizar build manifest 3: file, set, hash of its inputs, size, hash of its bytes
//   1.asp 1 8f1c0a3e5b7d9241 20480 03ab44e0c7f1d9a6
//   1.vbs 1 5e0d1c2b3a4f6978 26112 77f0e1d2c3b4a596
// A page file counts as current only when its inputs hash the same and the
// file still has exactly the recorded size and bytes, so a file cut short or
// damaged by a crash or a power loss is generated again.

#ifndef VAVIZAR_CLI_BUILD_MANIFEST_H_
#define VAVIZAR_CLI_BUILD_MANIFEST_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/ado/connection.h"
#include "platform/text.h"

namespace vz {
struct PageInputs;
}  // namespace vz

namespace vz::cli {

// A 64-bit hash over a sequence of fields: short ones eight bytes a step,
// long ones 48 bytes a step in three lanes. Each field is length-prefixed,
// so ("ab", "c") and ("a", "bc") hash apart. For telling changed inputs and
// damaged files apart, not against an adversary.
class InputHash {
 public:
  void AddField(std::string_view bytes);
  uint64_t value() const;

 private:
  void AddWord(uint64_t word);

  uint64_t hash_ = 0x9E3779B97F4A7C15ull;
};

// The hash of a whole byte string, as a single field.
uint64_t HashBytes(std::string_view bytes);

struct ManifestEntry {
  std::string set;      // the template set it was built for
  uint64_t inputs = 0;  // HashPageInputs
  uint64_t size = 0;    // of the file, in bytes
  uint64_t bytes = 0;   // HashBytes of the file
};

// File name in the folder ("12.asp") to what it was made from.
using Manifest = std::map<std::string, ManifestEntry>;

inline constexpr char kManifestName[] = "build.manifest";

// The manifest in the file `path`; empty when there is none. Lines that are
// not entries (those of an older manifest included) are ignored.
Manifest ReadManifest(const std::string& path);

// The text of the manifest file.
std::string ManifestText(const Manifest& manifest);

// What, besides a page's own rows and template, its generated file depends
// on: the options that change the output and where templates are found.
struct PageInputSettings {
  Text set_id;           // the template set, as written into the statements
  Text templet_root;     // the folder as a Page keeps it (TempletRootOf), or ""
  bool execute = false;  // execute code rather than server-page code
  std::string encoding;
  std::string code_page;  // the code page in use for reading templates
};

// The hash of everything generating a page reads, as the component reads
// it (`inputs`, from ReadPageInputs): the settings, the template row, the
// template path and text (or why it cannot be read), and every tag row that
// applies to the page in the order the database delivers them.
uint64_t HashPageInputs(const PageInputSettings& settings, const PageInputs& inputs);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_BUILD_MANIFEST_H_
