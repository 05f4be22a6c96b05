// What can go wrong in generating a page without a line in its error log:
// bytes of its template that are not valid in the code page (read as
// U+FFFD), and characters of its code that the output encoding cannot hold
// (written as "?"). The page comes out, but not as its author wrote it.

#ifndef VAVIZAR_CLI_PAGE_WARNINGS_H_
#define VAVIZAR_CLI_PAGE_WARNINGS_H_

#include <string>
#include <vector>

#include "platform/text.h"
#include "store/page_source.h"

namespace vz::cli {

// One line each, "FILE:LINE:COLUMN: what", about the template of `inputs`
// (its path shown with "/") and about `code` as written to `output_name` in
// `encoding` (a code-page number or iconv name; UTF-8 when `utf8` tells so,
// to spare the look). Raises 5 for an unknown encoding.
//   templates/cn/about.html:4:5: 8 byte sequences not valid in code page UTF-8, read as U+FFFD
//   out/4.asp:4:5: 4 characters that ISO-8859-1 cannot hold, written as "?"
std::vector<std::string> PageWarnings(const PageInputs& inputs, const std::string& code_page,
                                      TextView code, const std::string& encoding, bool utf8,
                                      const std::string& output_name);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_PAGE_WARNINGS_H_
