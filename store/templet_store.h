// The two queries of page generation: the template of a page and the tags
// that apply to it.
//
// Both run one statement on the connection the host lent to the Page and
// release their result set before they return. The tables are only read:
//   web_templet(page_id, tset_id, tmpl_file)   the template file of a page
//   web_page2func(page_id, FunID)              functions attached to a page
//   web_tag(name, ?, ?, code, ..., FunID, ...) tags; FunID NULL = every page

#ifndef VAVIZAR_STORE_TEMPLET_STORE_H_
#define VAVIZAR_STORE_TEMPLET_STORE_H_

#include <optional>

#include "platform/ado/connection.h"
#include "platform/text.h"

namespace vz {

// The tag rows that apply to page `PageID`, all columns of web_tag, indexed
// [column][row] in delivery order: the tags without a function and those of
// the functions attached to the page, each once. An empty table when none
// applies. Catches nothing: a null `conn` fails with 91, an identifier that
// is not a number with 13, the database's failures as the database gives them.
// Rows a host read ahead for the page through `conn` (SetGivenInputs) are
// taken instead of running the statement.
ado::RowTable GetPageTags(ado::Connection* conn, Text PageID);

// The text of the template file registered for the pair (`TempletSetID`,
// `PageID`): `templet_root` followed by the first tmpl_file value delivered,
// read by ReadTextFile. Never raises a failure of its own: when no row
// matches it logs the message "模板不存在。" and returns ""; any failure
// (no connection, a refused identifier or statement, a missing column) is
// logged with its number and description and the result is "" (or the file's
// text when only closing the result set failed). File failures are logged by
// ReadTextFile. With `path`, the path of the file read goes there (it is
// left as it is when no row matches). A text a host read ahead for the same
// connection, folder, set and page (SetGivenInputs) is taken, with its path,
// instead of running the statement and reading the file.
Text LoadTemplet(ado::Connection* conn, const Text& templet_root, Text& log, Text TempletSetID,
                 Text PageID, Text* path = nullptr);

// LoadTemplet written straight into `out` from its start, for a caller that
// keeps the text in storage of its own; returns how many characters.
size_t LoadTempletInto(ado::Connection* conn, const Text& templet_root, Text& log,
                       const Text& TempletSetID, const Text& PageID, Text* path, CharBuffer& out);

// The statements the two queries run, with the identifiers written in by
// SqlValue (which raises 13 for one it refuses).
Text TempletStatement(const Text& TempletSetID, const Text& PageID);
Text TagStatement(const Text& PageID);

// The path of a template: the folder as the Page keeps it, followed by the
// text form of the tmpl_file value; a NULL value adds nothing.
Text TempletPath(const Text& templet_root, const ado::Cell& tmpl_file);

// The inputs of one page that a host read ahead on this thread, for
// LoadTemplet and GetPageTags to take in place of reading them again (see
// GivenPageInputs in store/page_source.h). Each part is taken once.
struct GivenInputs {
  const ado::Connection* conn = nullptr;
  Text templet_root;
  Text set_id;
  Text page_id;
  Text path;  // the template's, as LoadTemplet would give it
  std::optional<Text> text;
  std::optional<ado::RowTable> tags;
};

// Makes `given` (nullptr: none) the inputs read ahead on this thread.
void SetGivenInputs(GivenInputs* given);

}  // namespace vz

#endif  // VAVIZAR_STORE_TEMPLET_STORE_H_
