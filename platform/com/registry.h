// The registry: where components are found by class identifier or name.
//
// Registrations live in one text file, laid out like an exported registry
// hive: a "[key\path]" line opens a key, "name=value" lines under it set its
// values ("@" is the key's default value). The file is
//   $VAVIZAR_COM_REGISTRY                          when that variable is set,
//   $XDG_DATA_HOME/vavizar/registry.txt            else, where XDG_DATA_HOME is set,
//   $HOME/.local/share/vavizar/registry.txt        otherwise.
// Every change is made under an exclusive lock on "<file>.lock" and written to
// a temporary file that is renamed into place, so concurrent writers lose
// nothing and readers never see half a file.

#ifndef VAVIZAR_PLATFORM_COM_REGISTRY_H_
#define VAVIZAR_PLATFORM_COM_REGISTRY_H_

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/types.h"

namespace vz::com {

// One value of one key.
struct RegistryEntry {
  std::string key;   // e.g. "CLSID\{...}\InprocServer32"
  std::string name;  // "@" for the default value
  std::string value;
};

// Keys, each with its named values, in sorted order.
using RegistryHive = std::map<std::string, std::map<std::string, std::string>>;

// The file in use, by the rules above.
std::string RegistryPath();

// The text form of a hive and back. Parsing skips blank lines and lines
// starting with ';'; a value line before any key, or a line that is neither a
// key nor a value, makes the text invalid (nothing is returned).
std::string HiveText(const RegistryHive& hive);
std::optional<RegistryHive> ParseHive(const std::string& text);

// Sets every entry (S_OK), or removes every entry and then every key left
// without values that one of the entries named (S_OK). Failure statuses:
// E_INVALIDARG for a key, name or value holding a line break or a bracket
// where it cannot stand; E_FAIL when the file cannot be read, parsed or
// replaced, with a description left as error information.
HRESULT WriteRegistry(const std::vector<RegistryEntry>& entries);
HRESULT EraseRegistry(const std::vector<RegistryEntry>& entries);

// A value, or nothing when the key or the value is absent or the registry
// cannot be read.
std::optional<std::string> ReadRegistry(const std::string& key, const std::string& name = "@");

}  // namespace vz::com

#endif  // VAVIZAR_PLATFORM_COM_REGISTRY_H_
