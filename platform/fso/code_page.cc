#include "platform/fso/code_page.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
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

// A set's name in capitals without '-' and '_', as iconv compares names.
std::string Canonical(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c != '-' && c != '_')
      out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return out;
}

bool IconvKnows(const std::string& name) {
  if (IsUtf8(name)) return true;  // converted by hand; no need to load iconv's tables
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
  if (number_or_name == "1200") return "UTF-16LE";
  if (number_or_name == "1201") return "UTF-16BE";
  return "CP" + std::string(number_or_name);
}

bool IsUtf8(std::string_view iconv_name) { return Canonical(iconv_name) == "UTF8"; }

bool AsciiRunsMayBypass(std::string_view iconv_name) {
  static constexpr std::string_view kSets[] = {
      "GBK",         "CP936",       "GB18030",      "GB2312",      "EUCCN",       "BIG5",
      "CP950",       "CP932",       "SJIS",         "SHIFTJIS",    "EUCJP",       "EUCKR",
      "CP949",       "UHC",         "CP1250",       "CP1251",      "CP1252",      "CP1253",
      "CP1254",      "CP1256",      "CP1257",       "CP874",       "KOI8R",       "KOI8U",
      "ASCII",       "USASCII",     "ANSIX3.41968", "LATIN1",      "WINDOWS1250", "WINDOWS1251",
      "WINDOWS1252", "WINDOWS1253", "WINDOWS1254",  "WINDOWS1256", "WINDOWS1257", "WINDOWS31J",
  };
  const std::string name = Canonical(iconv_name);
  if (name.starts_with("ISO8859") && name.size() > 7 &&
      std::all_of(name.begin() + 7, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return true;
  return std::find(std::begin(kSets), std::end(kSets), name) != std::end(kSets);
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
