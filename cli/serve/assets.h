// The files of the page the server shows, compiled into the program
// (cli/serve/index.html, app.js, app.css, made into a source file by
// cmake/embed_files.cmake), so that an installed server needs no other file.

#ifndef VAVIZAR_CLI_SERVE_ASSETS_H_
#define VAVIZAR_CLI_SERVE_ASSETS_H_

#include <string_view>

namespace vz::cli {

struct Asset {
  std::string_view name;  // the file's name: "index.html"
  std::string_view bytes;
};

// The file named `name`, or null.
const Asset* FindAsset(std::string_view name);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_SERVE_ASSETS_H_
