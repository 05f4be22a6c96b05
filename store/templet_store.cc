#include "store/templet_store.h"

#include <algorithm>

#include "platform/failure.h"
#include "store/error_log.h"
#include "store/sql_value.h"
#include "store/text_file.h"

namespace vz {
namespace {

// Message logged when no template is registered for a pair.
constexpr char16_t kNoTemplet[] = u"模板不存在。";

ado::Connection& Use(ado::Connection* conn) {
  if (conn == nullptr) Raise(kObjectVariableNotSet);
  return *conn;
}

thread_local GivenInputs* t_given = nullptr;

}  // namespace

void SetGivenInputs(GivenInputs* given) { t_given = given; }

Text TempletStatement(const Text& TempletSetID, const Text& PageID) {
  // The page comes first in the statement, the set second.
  return Concat({u"select tmpl_file from web_templet where page_id=", SqlValue(PageID),
                 u" and tset_id=", SqlValue(TempletSetID)});
}

Text TagStatement(const Text& PageID) {
  return Concat({u"select * from web_tag where FunID is null or FunID in ",
                 u"(select FunID from web_page2func where page_id=", SqlValue(PageID), u")"});
}

Text TempletPath(const Text& templet_root, const ado::Cell& tmpl_file) {
  return ado::IsNull(tmpl_file) ? templet_root : Concat({templet_root, ado::CellText(tmpl_file)});
}

ado::RowTable GetPageTags(ado::Connection* conn, Text PageID) {
  if (GivenInputs* given = t_given;
      given != nullptr && given->tags && conn == given->conn && PageID == given->page_id) {
    ado::RowTable tags = std::move(*given->tags);
    given->tags.reset();
    return tags;
  }
  Text sql = TagStatement(PageID);
  com::Ref<ado::Recordset> rs = Use(conn).Execute(sql, ado::adOptionUnspecified);
  ado::RowTable tags;
  if (!rs->Eof()) tags = rs->GetRows(ado::adGetRowsRest);
  rs->Close();
  return tags;
}

namespace {

// The steps of LoadTemplet: a text read ahead goes to `take`, the path of
// the file to read to `read`, which logs its own failures.
template <typename Take, typename Read>
void LoadTempletWith(ado::Connection* conn, const Text& templet_root, Text& log,
                     const Text& TempletSetID, const Text& PageID, Text* path, Take&& take,
                     Read&& read) {
  if (GivenInputs* given = t_given; given != nullptr && given->text && conn == given->conn &&
                                    templet_root == given->templet_root &&
                                    TempletSetID == given->set_id && PageID == given->page_id) {
    take(std::move(*given->text));
    given->text.reset();
    if (path != nullptr) *path = given->path;
    return;
  }
  try {
    Text sql = TempletStatement(TempletSetID, PageID);
    // Released on every way out; releasing an open result set closes it.
    com::Ref<ado::Recordset> rs = Use(conn).Execute(sql, ado::adOptionUnspecified);
    if (rs->Eof()) {
      AppendError(log, kNoTemplet);
      return;
    }
    Text file = TempletPath(templet_root, rs->FieldValue(u"tmpl_file"));
    read(file);
    if (path != nullptr) *path = std::move(file);
    rs->Close();
  } catch (...) {
    AppendError(log, Text());
  }
}

}  // namespace

Text LoadTemplet(ado::Connection* conn, const Text& templet_root, Text& log, Text TempletSetID,
                 Text PageID, Text* path) {
  Text result;
  LoadTempletWith(
      conn, templet_root, log, TempletSetID, PageID, path,
      [&](Text&& given) { result = std::move(given); },
      [&](const Text& file) { result = ReadTextFile(file, log); });
  return result;
}

size_t LoadTempletInto(ado::Connection* conn, const Text& templet_root, Text& log,
                       const Text& TempletSetID, const Text& PageID, Text* path, CharBuffer& out) {
  size_t length = 0;
  LoadTempletWith(
      conn, templet_root, log, TempletSetID, PageID, path,
      [&](Text&& given) {
        std::copy(given.begin(), given.end(), out.Reserve(0, given.size()));
        length = given.size();
      },
      [&](const Text& file) { length = ReadTextFileInto(file, out, log); });
  return length;
}

}  // namespace vz
