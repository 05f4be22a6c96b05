// vavizar-serve: the server of `vavizar serve`, which the command runs in its
// place (cli/serve_launch.h). Its arguments are the options of `vavizar
// serve`.

#include <string>
#include <vector>

#include "cli/program.h"
#include "cli/serve/serve_command.h"
#include "cli/serve_launch.h"

int main(int argc, char** argv) {
  vz::cli::SetServeRunner(vz::cli::RunServe);
  std::vector<std::string> args = {"serve"};
  args.insert(args.end(), argv + 1, argv + argc);
  return vz::cli::RunProgram(args);
}
