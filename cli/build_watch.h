// vavizar build --watch: a build, then a build of the changed pages each time
// the inputs change, until stopped.

#ifndef VAVIZAR_CLI_BUILD_WATCH_H_
#define VAVIZAR_CLI_BUILD_WATCH_H_

#include <functional>

#include "cli/commands.h"
#include "cli/options.h"

namespace vz::cli {

// Runs `build` with `args`, then, each time a template file of the set's
// pages or the rows change (cli/change_monitor.h), runs it again as with
// --changed, so that only the pages whose inputs changed are generated.
// What each build writes to `output.err` (its summary line last) is written
// out when it ends, when `output.err_fd` is a descriptor. A build after the
// first that ends in an Error is told on one line and the watch goes on.
// Returns, once `stopped` is true (it is asked at least every 200 ms), the
// status of the last build; 1 when it was stopped in the middle. Throws
// what the first build throws.
int WatchBuilds(const ParsedArgs& args, Output& output,
                const std::function<int(const ParsedArgs&, Output&)>& build,
                const std::function<bool()>& stopped);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_BUILD_WATCH_H_
