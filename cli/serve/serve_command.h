// The server of `vavizar serve` (cli/serve_launch.h tells how the command
// reaches it): an HTTP server on the loopback address that shows the pages of
// one template set as their author edits them.
//
//   GET /                 the list of the set's pages with their states
//   GET /page/ID          the view of page ID (the same HTML; it fetches:)
//   GET /api/pages        the list as JSON        (cli/serve/page_json.h)
//   GET /api/page/ID      the view's data as JSON
//   GET /events           server-sent events: "change" when states change
//   GET /app.js, /app.css the page's script and style (compiled in)
//
// Every request passes cli/serve/http_guard.h first. A page is addressed by
// its identifier alone and must be one of the set's; no path is ever taken
// from a URL. The database is opened read-only and nothing is written.
// Changes are seen by cli/change_monitor.h and applied by the site model
// (cli/serve/site_model.h) on the main thread; requests run on the server's
// threads.

#ifndef VAVIZAR_CLI_SERVE_SERVE_COMMAND_H_
#define VAVIZAR_CLI_SERVE_SERVE_COMMAND_H_

#include "cli/commands.h"
#include "cli/options.h"

namespace vz::cli {

// Runs the server with the parsed options of `vavizar serve` until SIGINT or
// SIGTERM; writes "serving http://ADDR:PORT/" to `output` first (at once
// when `output.out_fd` is a descriptor). Returns 0 when stopped; throws an
// Error for bad options, a database that cannot be read or an address that
// cannot be listened on.
int RunServe(const ParsedArgs& args, Output& output);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_SERVE_SERVE_COMMAND_H_
