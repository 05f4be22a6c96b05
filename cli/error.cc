#include "cli/error.h"

namespace vz::cli {

std::string OneLine(const Text& description) {
  std::string text = ToUtf8(description);
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

std::string ShownPath(const Text& path) { return ToUtf8(Replace(path, u"\\", u"/")); }

}  // namespace vz::cli
