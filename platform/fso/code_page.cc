#include "platform/fso/code_page.h"

#include <iconv.h>
#include <langinfo.h>

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "platform/failure.h"

namespace vz::fso {
namespace {

std::mutex mutex;
std::optional<std::string> setting;  // guarded by mutex; empty until first use

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool IconvKnows(const std::string& name) {
  iconv_t cd = iconv_open("UTF-16LE", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

std::string LocaleCharset() {
  std::string codeset = nl_langinfo(CODESET);
  if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII" ||
      !IconvKnows(codeset)) {
    return "UTF-8";
  }
  return codeset;
}

// The setting a process starts with: $VAVIZAR_CODEPAGE when it names a code
// page iconv knows, else the locale's character set.
std::string InitialCodePage() {
  const char* variable = std::getenv("VAVIZAR_CODEPAGE");
  if (variable != nullptr && *variable != 0) {
    std::string name = IconvName(variable);
    if (IconvKnows(name)) return name;
  }
  return LocaleCharset();
}

}  // namespace

std::string IconvName(std::string_view number_or_name) {
  if (!AllDigits(number_or_name)) return std::string(number_or_name);
  if (number_or_name == "65001") return "UTF-8";
  if (number_or_name == "936") return "GBK";
  if (number_or_name == "20127") return "ASCII";
  if (number_or_name == "28591") return "ISO-8859-1";
  return "CP" + std::string(number_or_name);
}

void SetCodePage(std::string_view number_or_name) {
  std::string name = IconvName(number_or_name);
  if (name.empty() || !IconvKnows(name)) {
    Raise(kInvalidArgument, Concat({u"Unknown code page '", FromUtf8(number_or_name), u"'"}));
  }
  std::lock_guard<std::mutex> lock(mutex);
  setting = std::move(name);
}

std::string CodePage() {
  std::lock_guard<std::mutex> lock(mutex);
  if (!setting) setting = InitialCodePage();
  return *setting;
}

}  // namespace vz::fso
