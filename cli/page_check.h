// The checks `vavizar check` runs on the pages of a set, callable one page at
// a time: the check command prints what they find, the serve command shows
// it in its page view.
//
//   SetCheck check(conn, "templates", "UTF-8");     // what every page shares
//   if (check.layout()) ...                       // web_tag is laid out otherwise
//   PageInputs in = ReadPageInputs(conn, check.templet_root(), u"1", u"3");
//   check.CheckPage(in, "page 3 of set 1", [](Finding&& f) { ... });
//
// The inputs are read as the component reads them (store/page_source.h); the
// findings are those of cli/template_lint.h plus what only the file shows: a
// template that cannot be read, bytes not valid in the code page, a path that
// leaves the template folder.

#ifndef VAVIZAR_CLI_PAGE_CHECK_H_
#define VAVIZAR_CLI_PAGE_CHECK_H_

#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli/finding.h"
#include "cli/template_lint.h"
#include "platform/ado/connection.h"
#include "platform/text.h"
#include "store/page_source.h"

namespace vz::cli {

// The tag rows of a page's tag table, as the lint takes them. A table
// without a fourth column gives none: the layout finding tells of it.
std::vector<TagRow> LintRowsOf(const ado::RowTable& tags);

class SetCheck {
 public:
  // Reads what the checks of every page share: the layout of web_tag and,
  // when it is laid out as the component reads it, the tags that belong to
  // functions. `templates` is the folder as given (nothing when there is
  // none), `encoding` the output encoding (REQUIRES: known to iconv). Raises
  // the database's failures.
  SetCheck(ado::Connection& conn, const std::optional<std::string>& templates,
           const std::string& encoding);

  // A tag-columns finding when web_tag is not laid out as the component
  // reads it (then every page would only repeat it).
  const std::optional<Finding>& layout() const { return layout_; }
  // The template folder as a Page keeps it, or "" when none is given.
  const Text& templet_root() const { return templet_root_; }

  // Hands the findings of the page whose inputs are `inputs` to `sink`, in
  // the order of the text after those about the whole file. `which` names
  // the page in messages ("page 3 of set 1"). REQUIRES: inputs.registered.
  void CheckPage(const PageInputs& inputs, const std::string& which,
                 const std::function<void(Finding&&)>& sink) const;

 private:
  std::optional<std::string> templates_;
  Text templet_root_;
  LintOptions lint_;
  std::optional<Finding> layout_;
  std::unordered_map<Text, std::vector<Text>> function_tags_;
};

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_PAGE_CHECK_H_
