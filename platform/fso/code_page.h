// The ANSI code page: the character set in which text files are read.
//
// This is the platform's stand-in for the system code page. It starts as the
// character set of the process's locale (LC_CTYPE at the time of the first
// use), or UTF-8 when the locale names none or only ASCII. A host sets it with
// a Windows code-page number ("936", "950", "1252", "65001", ...) or an iconv
// name ("GBK", "UTF-8", "ISO-8859-1").

#ifndef VAVIZAR_PLATFORM_FSO_CODE_PAGE_H_
#define VAVIZAR_PLATFORM_FSO_CODE_PAGE_H_

#include <string>
#include <string_view>

namespace vz::fso {

// Sets the code page for every later read, on all threads. A name that iconv
// does not know raises 5 with a description naming it; the setting then stays
// as it was.
void SetCodePage(std::string_view number_or_name);

// The iconv name of the code page now in use ("GBK", "UTF-8", ...).
std::string CodePage();

// The iconv name for a code-page number or name, without checking that iconv
// knows it: "936" is "GBK", "65001" "UTF-8", "1200" and "1201" "UTF-16LE"
// and "UTF-16BE", another number N "CPN", and a name stays as it is.
std::string IconvName(std::string_view number_or_name);

// How the decoder and the encoder convert. kFast converts UTF-8 by hand and
// lets runs of ASCII in the sets of AsciiRunsMayBypass skip iconv; kIconvOnly
// hands every byte and unit to iconv. Both give the same result: kIconvOnly
// is the reference the fast paths are checked against.
enum class Conversion { kFast, kIconvOnly };

// Whether `iconv_name` names UTF-8 ("UTF-8", "utf8", ...).
bool IsUtf8(std::string_view iconv_name);

// Whether `iconv_name` is one of the stateless sets that are ASCII where a
// character starts: there a byte below 0x80 is always that one ASCII
// character, and no character holds two such bytes side by side (GBK,
// GB18030, Big5, Shift_JIS, the EUC sets, the Windows and ISO 8859 sets
// other than the combining 1255 and 1258). A candidate only: a converter
// still checks that iconv maps ASCII to itself before it skips iconv.
bool AsciiRunsMayBypass(std::string_view iconv_name);

}  // namespace vz::fso

#endif  // VAVIZAR_PLATFORM_FSO_CODE_PAGE_H_
