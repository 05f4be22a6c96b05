#include "cli/error.h"

namespace vz::cli {

std::string OneLine(const Text& description) {
  std::string text = ToUtf8(description);
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

std::vector<std::string> LogLines(const Text& log) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find(u"\r\n", at);
    if (end == Text::npos) end = log.size();
    if (end > at) lines.push_back(OneLine(log.substr(at, end - at)));
    at = end + 2;
  }
  return lines;
}

std::string ShownPath(const Text& path) { return ToUtf8(Replace(path, u"\\", u"/")); }

}  // namespace vz::cli
