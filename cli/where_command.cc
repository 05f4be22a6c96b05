#include "cli/where_command.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "cli/finding_printer.h"
#include "cli/write.h"
#include "sourcemap/source_map.h"

namespace vz::cli {

const char kWhereUsage[] =
    "usage: vavizar where [--json] FILE:LINE[:COLUMN]\n"
    "Tells where the character at LINE and COLUMN (default 1) of the generated\n"
    "file FILE came from, reading the source map FILE.map: the template text, or\n"
    "the tag row's code and the expansions that brought it in, innermost first,\n"
    "one line each led by a place FILE:LINE:COLUMN. Lines end at CR LF, LF or a\n"
    "lone CR; columns count UTF-16 code units (a character past U+FFFF counts 2).\n"
    "  --json                 one JSON object instead (fields file, line, column,\n"
    "                         chain: objects with a kind and the link's fields)\n"
    "exit status: 0 done, 2 bad usage, a map that cannot be read or is malformed,\n"
    "             or a place past the end of the file or of its line\n";

namespace {

constexpr int64_t kMaxNumber = 2147483647;

struct Position {
  std::string file;
  int64_t line = 0;
  int64_t column = 1;
};

bool AllDigits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

int64_t Number(const std::string& text, const char* what) {
  const std::optional<int64_t> n = ParseCount(text, 1, kMaxNumber);
  if (!n)
    throw UsageError(std::string(what) + " '" + text + "' is not a number from 1 to " +
                     std::to_string(kMaxNumber));
  return *n;
}

// FILE:LINE:COLUMN when the last two parts after colons are numbers, else
// FILE:LINE.
Position ParsePosition(const std::string& arg) {
  const size_t last = arg.rfind(':');
  if (last == std::string::npos || last == 0 || !AllDigits(arg.substr(last + 1)))
    throw UsageError("'" + arg + "' is not FILE:LINE[:COLUMN]");
  Position position;
  const size_t before = arg.rfind(':', last - 1);
  if (before != std::string::npos && before > 0 &&
      AllDigits(arg.substr(before + 1, last - before - 1))) {
    position.file = arg.substr(0, before);
    position.line = Number(arg.substr(before + 1, last - before - 1), "line");
    position.column = Number(arg.substr(last + 1), "column");
  } else {
    position.file = arg.substr(0, last);
    position.line = Number(arg.substr(last + 1), "line");
  }
  return position;
}

std::string Place(const std::string& source, int64_t line, int64_t column) {
  return Escaped(source) + ":" + std::to_string(line) + ":" + std::to_string(column);
}

std::string RowText(const MapLink& link) {
  return "tag row " + std::to_string(link.row) + " `" + Escaped(link.name) + "`";
}

std::string CodeText(const MapLink& link) {
  return RowText(link) + ", code line " + std::to_string(link.line) + ", column " +
         std::to_string(link.column);
}

// One line a link, each led by a place: in a source file, or in the
// generated file (`here`) for what has no file of its own.
std::string HumanChain(const std::string& here, const std::vector<MapLink>& chain) {
  std::string out;
  for (const MapLink& link : chain) {
    switch (link.kind) {
      case MapLink::Kind::kTemplate:
        out += Place(link.source, link.line, link.column) + ": template text";
        break;
      case MapLink::Kind::kCode:
        out += here + ": " + CodeText(link);
        break;
      case MapLink::Kind::kGenerated:
        out += here + ": written by expanding " + RowText(link);
        break;
      case MapLink::Kind::kConverted:
        out += here + ": written by the conversion to execute code";
        break;
      case MapLink::Kind::kExpanding:
        out += link.row == 0 ? Place(link.source, link.line, link.column)
                             : here + ": " + CodeText(link);
        out += ": expanding " + Escaped(link.tag);
        break;
      case MapLink::Kind::kMapped:
        out += Place(link.source, link.line, link.column) + ": mapped from here";
        if (!link.name.empty()) out += " (name `" + Escaped(link.name) + "`)";
        break;
    }
    out += '\n';
  }
  return out;
}

const char* KindName(MapLink::Kind kind) {
  switch (kind) {
    case MapLink::Kind::kTemplate:
      return "template";
    case MapLink::Kind::kCode:
      return "code";
    case MapLink::Kind::kGenerated:
      return "generated";
    case MapLink::Kind::kConverted:
      return "converted";
    case MapLink::Kind::kExpanding:
      return "expanding";
    case MapLink::Kind::kMapped:
      return "mapped";
  }
  return "";
}

std::string JsonChain(const Position& at, const std::vector<MapLink>& chain) {
  std::string out = "{\"file\":" + JsonString(at.file) + ",\"line\":" + std::to_string(at.line) +
                    ",\"column\":" + std::to_string(at.column) + ",\"chain\":[";
  for (size_t i = 0; i < chain.size(); ++i) {
    const MapLink& link = chain[i];
    out += i == 0 ? "{" : ",{";
    out += "\"kind\":\"" + std::string(KindName(link.kind)) + "\"";
    if (link.kind == MapLink::Kind::kExpanding) out += ",\"tag\":" + JsonString(link.tag);
    if (link.line > 0) {
      out += ",\"source\":" + JsonString(link.source) + ",\"line\":" + std::to_string(link.line) +
             ",\"column\":" + std::to_string(link.column);
    }
    if (link.row > 0) {
      out += ",\"row\":" + std::to_string(link.row) + ",\"name\":" + JsonString(link.name);
    } else if (link.kind == MapLink::Kind::kMapped) {
      out += ",\"name\":" + (link.name.empty() ? std::string("null") : JsonString(link.name));
    }
    out += '}';
  }
  return out + "]}\n";
}

}  // namespace

int RunWhere(const ParsedArgs& args, Output& output) {
  const std::string& arg = args.positional[0];
  const Position at = ParsePosition(arg);
  const std::string map_path = at.file + ".map";
  std::string bytes;
  if (!ReadFileBytes(map_path, &bytes))
    throw FatalError("cannot read '" + map_path + "': " + std::strerror(errno));
  std::vector<MapLink> chain;
  try {
    const SourceMap map = SourceMap::Parse(bytes);
    bytes = std::string();
    try {
      chain = map.Resolve(at.line, at.column);
    } catch (const SourceMapError& e) {
      throw FatalError(Escaped(arg) + ": " + e.what());
    }
  } catch (const SourceMapError& e) {
    throw FatalError(Escaped(map_path) + ": " + e.what());
  }
  const std::string here = Place(at.file, at.line, at.column);
  output.out += args.options.count("json") != 0 ? JsonChain(at, chain) : HumanChain(here, chain);
  return kExitOk;
}

}  // namespace vz::cli
