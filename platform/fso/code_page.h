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
// knows it: "936" is "GBK", "65001" "UTF-8", another number N "CPN", and a
// name stays as it is.
std::string IconvName(std::string_view number_or_name);

}  // namespace vz::fso

#endif  // VAVIZAR_PLATFORM_FSO_CODE_PAGE_H_
