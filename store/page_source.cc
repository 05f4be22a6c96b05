#include "store/page_source.h"

#include <filesystem>
#include <set>
#include <string>
#include <system_error>

#include "store/sql_value.h"
#include "store/templet_store.h"
#include "store/text_file.h"

namespace vz {

Text TempletRootOf(TextView folder) {
  // Only a trailing backslash counts as a separator; anything else, "/"
  // included, gets one added.
  return (!folder.empty() && folder.back() == u'\\') ? Text(folder) : Concat({folder, u"\\"});
}

PageInputs ReadPageInputs(ado::Connection& conn, const Text& templet_root, const Text& set_id,
                          const Text& page_id) {
  PageInputs inputs;
  {
    com::Ref<ado::Recordset> rs =
        conn.Execute(TempletStatement(set_id, page_id), ado::adOptionUnspecified);
    inputs.registered = !rs->Eof();
    if (inputs.registered) inputs.tmpl_file = rs->FieldValue(u"tmpl_file");
    rs->Close();
  }
  if (inputs.registered) {
    inputs.path = TempletPath(templet_root, inputs.tmpl_file);
    try {
      ReadTextFileOrRaise(inputs.path, inputs.text, &inputs.faults);
    } catch (const Failure& f) {
      inputs.read_failure = f;
      inputs.text.clear();
    }
  }
  inputs.tags = GetPageTags(&conn, page_id);
  return inputs;
}

GivenPageInputs::GivenPageInputs(const ado::Connection& conn, const Text& templet_root,
                                 const Text& set_id, const Text& page_id, const Text& path,
                                 Text text, ado::RowTable tags) {
  given_.conn = &conn;
  given_.templet_root = templet_root;
  given_.set_id = set_id;
  given_.page_id = page_id;
  given_.path = path;
  given_.text = std::move(text);
  given_.tags = std::move(tags);
  SetGivenInputs(&given_);
}

GivenPageInputs::~GivenPageInputs() { SetGivenInputs(nullptr); }

namespace {

// Nothing when `statement` runs (it returns no row), else why it does not.
std::optional<Text> Refusal(ado::Connection& conn, const Text& statement) {
  try {
    conn.Execute(statement, ado::adOptionUnspecified)->Close();
    return std::nullopt;
  } catch (const Failure& f) {
    return f.description();
  }
}

}  // namespace

void CheckSchema(ado::Connection& conn) {
  // The item-not-found failure of the data layer.
  constexpr int32_t kItemNotFound = 3265;
  struct Table {
    const char16_t* name;
    std::vector<const char16_t*> columns;
  };
  const Table tables[] = {
      {u"web_templet", {u"page_id", u"tset_id", u"tmpl_file"}},
      {u"web_page2func", {u"page_id", u"FunID"}},
      {u"web_tag", {u"FunID"}},
  };
  for (const Table& table : tables) {
    if (auto why = Refusal(conn, Concat({u"select * from ", table.name, u" where 1=0"}))) {
      Raise(kItemNotFound, Concat({u"the database has no table '", table.name, u"': ", *why}));
    }
    for (const char16_t* column : table.columns) {
      auto why = Refusal(conn, Concat({u"select ", column, u" from ", table.name, u" where 1=0"}));
      if (why) {
        Raise(kItemNotFound,
              Concat({u"table '", table.name, u"' has no column '", column, u"': ", *why}));
      }
    }
  }
}

ReadSnapshot::ReadSnapshot(ado::Connection& conn, bool sqlite) {
  if (!sqlite) return;
  try {
    conn.Execute(u"begin", ado::adOptionUnspecified)->Close();
    conn_ = &conn;
  } catch (const Failure&) {
    // Each statement then takes its own snapshot, as without one.
  }
}

ReadSnapshot::~ReadSnapshot() {
  if (conn_ == nullptr) return;
  try {
    conn_->Execute(u"commit", ado::adOptionUnspecified)->Close();
  } catch (...) {
    // Nothing was written; a transaction left open ends with the connection.
  }
}

std::vector<Text> ListSetPages(ado::Connection& conn, const Text& set_id) {
  com::Ref<ado::Recordset> rs =
      conn.Execute(Concat({u"select distinct page_id from web_templet where tset_id=",
                           SqlValue(set_id), u" order by page_id"}),
                   ado::adOptionUnspecified);
  std::vector<Text> pages;
  if (!rs->Eof()) {
    const ado::RowTable rows = rs->GetRows(ado::adGetRowsRest);
    std::set<Text> seen;
    for (int32_t row = 0; row < rows.rows; ++row) {
      const ado::Cell& cell = rows.At(0, row);
      if (ado::IsNull(cell)) continue;
      Text id = ado::CellText(cell);
      if (seen.insert(id).second) pages.push_back(std::move(id));
    }
  }
  rs->Close();
  return pages;
}

namespace {

// Every row a statement returns, or an empty table.
ado::RowTable AllRows(ado::Connection& conn, const Text& statement) {
  com::Ref<ado::Recordset> rs = conn.Execute(statement, ado::adOptionUnspecified);
  ado::RowTable rows;
  if (!rs->Eof()) rows = rs->GetRows(ado::adGetRowsRest);
  rs->Close();
  return rows;
}

// A path of the component (every "\" a separator) as the file system takes it.
std::filesystem::path FileSystemPath(const Text& path) {
  return std::filesystem::path(ToUtf8(Replace(path, u"\\", u"/")));
}

}  // namespace

std::optional<Text> TemplatePathOf(ado::Connection& conn, const Text& templet_root,
                                   const Text& set_id, const Text& page_id) {
  com::Ref<ado::Recordset> rs =
      conn.Execute(TempletStatement(set_id, page_id), ado::adOptionUnspecified);
  std::optional<Text> path;
  if (!rs->Eof()) path = TempletPath(templet_root, rs->FieldValue(u"tmpl_file"));
  rs->Close();
  return path;
}

std::vector<ado::RowTable> ReadSiteRows(ado::Connection& conn) {
  return {AllRows(conn, u"select * from web_templet"),
          AllRows(conn, u"select * from web_page2func"), ReadTagTable(conn)};
}

std::vector<Text> TagColumnNames(ado::Connection& conn) {
  const Text statements[] = {
      u"select name from pragma_table_info('web_tag') order by cid",
      u"select column_name from information_schema.columns where table_name='web_tag' "
      u"order by ordinal_position",
  };
  for (const Text& statement : statements) {
    try {
      const ado::RowTable rows = AllRows(conn, statement);
      std::vector<Text> names;
      for (int32_t row = 0; row < rows.rows; ++row) {
        const ado::Cell& cell = rows.At(0, row);
        names.push_back(ado::IsNull(cell) ? Text() : ado::CellText(cell));
      }
      if (!names.empty()) return names;
    } catch (const Failure&) {
      // Not this database's way; try the next.
    }
  }
  return {};
}

ado::RowTable ReadTagTable(ado::Connection& conn) {
  return AllRows(conn, u"select * from web_tag");
}

std::vector<FunctionTag> ReadFunctionTags(ado::Connection& conn) {
  const ado::RowTable rows = AllRows(conn, u"select FunID, * from web_tag where FunID is not null");
  std::vector<FunctionTag> tags;
  if (rows.columns < 2) return tags;
  for (int32_t row = 0; row < rows.rows; ++row) {
    const ado::Cell& function = rows.At(0, row);
    const ado::Cell& name = rows.At(1, row);
    if (ado::IsNull(name) || ado::IsNull(function)) continue;
    tags.push_back({ado::CellText(name), ado::CellText(function)});
  }
  return tags;
}

bool LeavesTempletRoot(const Text& templet_root, const Text& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path folder = fs::weakly_canonical(
      fs::absolute(FileSystemPath(templet_root.empty() ? Text(u".") : templet_root), error), error);
  if (error) return false;
  const fs::path file = fs::weakly_canonical(fs::absolute(FileSystemPath(path), error), error);
  if (error) return false;
  const fs::path inside = file.lexically_relative(folder);
  return inside.empty() || *inside.begin() == "..";
}

}  // namespace vz
