// A page's inputs, found the way the component finds them, for the tools
// that look at pages without generating them (checking a set, deciding
// whether a built page is current).
//
//   PageInputs in = ReadPageInputs(conn, TempletRootOf(u"templates"), u"1", u"12");
//   if (!in.registered) ...            // no web_templet row for the pair
//   else if (in.read_failure) ...      // the file cannot be read
//   else Use(in.path, in.text, in.tags);
//
// The statements, the path rule and the reading of the file are those of
// the component's own LoadTemplet and GetPageTags (store/templet_store.h),
// so what these report is exactly what generating the page reads.

#ifndef VAVIZAR_STORE_PAGE_SOURCE_H_
#define VAVIZAR_STORE_PAGE_SOURCE_H_

#include <optional>
#include <vector>

#include "platform/ado/connection.h"
#include "platform/failure.h"
#include "platform/fso/decoder.h"
#include "platform/text.h"
#include "store/templet_store.h"

namespace vz {

// The template folder as a Page keeps it once TempletRoot is set: `folder`
// with a "\" after it unless it ends in one ("/" included).
Text TempletRootOf(TextView folder);

struct PageInputs {
  bool registered = false;              // a web_templet row matched the pair
  ado::Cell tmpl_file;                  // its tmpl_file value (the first row delivered)
  Text path;                            // the template path the component reads
  Text text;                            // the template text, as the component reads it
  std::optional<Failure> read_failure;  // why the file could not be read
  fso::DecodeFaults faults;             // bytes of it not valid in the code page
  ado::RowTable tags;                   // the tag rows, in the order applied
};

// The inputs of page `page_id` of set `set_id`. `templet_root` is the folder
// as a Page keeps it (TempletRootOf), or "" when none is set. Raises 13 for
// an identifier SqlValue refuses and the database's failures of either
// query; a template that cannot be read is reported in `read_failure`.
PageInputs ReadPageInputs(ado::Connection& conn, const Text& templet_root, const Text& set_id,
                          const Text& page_id);

// For its lifetime, the component's own reads of page `page_id` of set
// `set_id` on this thread (LoadTemplet and GetPageTags through `conn`, from
// the folder `templet_root`) take `text` (read from `path`) and `tags`
// instead of running their statements and reading the file again, each once. For a host that has
// just read the page with ReadPageInputs in a ReadSnapshot, so that both reads would see the same
// rows: the component then works on what the host recorded. Give only inputs read whole (a template
// row, a file read); for the others the component reads itself and logs what goes wrong as always.
class GivenPageInputs {
 public:
  GivenPageInputs(const ado::Connection& conn, const Text& templet_root, const Text& set_id,
                  const Text& page_id, const Text& path, Text text, ado::RowTable tags);
  ~GivenPageInputs();
  GivenPageInputs(const GivenPageInputs&) = delete;
  GivenPageInputs& operator=(const GivenPageInputs&) = delete;

 private:
  GivenInputs given_;
};

// Looks at the three tables a page is read from (web_templet, web_page2func,
// web_tag) and the columns the statements name. Raises 3265 with a
// description that names the first thing missing and the database's reason:
//   the database has no table 'web_tag': no such table: web_tag
//   table 'web_templet' has no column 'tmpl_file': no such column: tmpl_file
void CheckSchema(ado::Connection& conn);

// A read transaction on a SQLite connection for its lifetime ("begin" ...
// "commit"), so that what a page is generated from and what its inputs are
// recorded as are read from one state of the database, and the database is
// locked once for them rather than once a statement. Does nothing when
// `sqlite` is false (other databases keep their own per-statement
// behaviour) or when "begin" is refused. Never raises from its destructor.
class ReadSnapshot {
 public:
  ReadSnapshot(ado::Connection& conn, bool sqlite);
  ~ReadSnapshot();
  // Whether the transaction is open.
  bool active() const { return conn_ != nullptr; }
  ReadSnapshot(const ReadSnapshot&) = delete;
  ReadSnapshot& operator=(const ReadSnapshot&) = delete;

 private:
  ado::Connection* conn_ = nullptr;  // set while a transaction is open
};

// The distinct pages registered for set `set_id` in web_templet, ascending,
// in their text form; NULL page_id values are left out. Raises as
// ReadPageInputs does.
std::vector<Text> ListSetPages(ado::Connection& conn, const Text& set_id);

// The path of the template registered for page `page_id` of set `set_id`,
// as ReadPageInputs finds it, without reading the file; nothing when no
// template is registered for the pair. Raises as ReadPageInputs does.
std::optional<Text> TemplatePathOf(ado::Connection& conn, const Text& templet_root,
                                   const Text& set_id, const Text& page_id);

// Every row of the three tables pages are read from (web_templet,
// web_page2func, web_tag), all columns, in that order: for telling whether
// any of them changed. Raises the database's failures.
std::vector<ado::RowTable> ReadSiteRows(ado::Connection& conn);

// The names of web_tag's columns in their order, as the database tells them
// (SQLite's table_info, else information_schema.columns); empty when it
// tells neither.
std::vector<Text> TagColumnNames(ado::Connection& conn);

// Every row of web_tag with all its columns, [column][row] in delivery
// order; an empty table when there is none. Raises the database's failures.
ado::RowTable ReadTagTable(ado::Connection& conn);

// A web_tag row that belongs to a function: its name (the first column) and
// its FunID, both in text form.
struct FunctionTag {
  Text name;
  Text function;
};

// The web_tag rows whose FunID is not NULL, in delivery order; rows with a
// NULL name are left out. Raises the database's failures.
std::vector<FunctionTag> ReadFunctionTags(ado::Connection& conn);

// Whether the template file at `path` (as ReadPageInputs gives it: the
// folder, then tmpl_file, "\" and "/" both separators) lies outside the
// template folder `templet_root` ("" for none: the working folder), after
// ".." and links are followed as far as they exist.
bool LeavesTempletRoot(const Text& templet_root, const Text& path);

}  // namespace vz

#endif  // VAVIZAR_STORE_PAGE_SOURCE_H_
