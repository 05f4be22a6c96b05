#include "cli/serve_launch.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace vz::cli {

const char kServeUsage[] =
    "usage: vavizar serve [options] --set SET [--bind ADDR] [--port N]\n"
    "Serves the pages of template set SET to a browser on this machine: a list of\n"
    "the pages with the state of each (generated cleanly, with findings of vavizar\n"
    "check, or failing), and for each page its template with its tags and\n"
    "findings marked beside its server-page code and execute code; clicking a\n"
    "line of code shows where it came from. When a template file or a row\n"
    "changes, the pages it concerns are generated again and an open page shows\n"
    "the new state without being reloaded. Prints 'serving http://ADDR:PORT/'\n"
    "first and runs until stopped (SIGINT, SIGTERM). Nothing is written.\n"
    "  --set SET              the template set (required)\n"
    "  --bind ADDR            the address to listen on (default 127.0.0.1)\n"
    "  --port N               the port (default 8080; 0 picks a free one)\n"
    "Only requests that name the server by its address or as localhost are\n"
    "answered, and only pages of the set.\n"
    "exit status: 0 stopped, 2 bad usage, a database that cannot be opened or\n"
    "             read, or an address that cannot be listened on\n";

namespace {

ServeRunner g_runner = nullptr;

constexpr char kProgram[] = "vavizar-serve";

// The server program: beside this program, else in ../libexec/vavizar/.
std::string ServerProgram() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw FatalError("cannot find the server program: " + error.message());
  const std::filesystem::path folder = self.parent_path();
  const std::filesystem::path candidates[] = {
      folder / kProgram, folder.parent_path() / "libexec" / "vavizar" / kProgram};
  for (const std::filesystem::path& candidate : candidates) {
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  throw FatalError("the server program " + std::string(kProgram) + " is not installed beside " +
                   self.string() + " (looked for " + candidates[0].string() + " and " +
                   candidates[1].string() + ")");
}

}  // namespace

void SetServeRunner(ServeRunner runner) { g_runner = runner; }

int RunServeCommand(const ParsedArgs& args, Output& output) {
  if (g_runner != nullptr) return g_runner(args, output);
  const std::string program = ServerProgram();
  std::vector<std::string> words = {program};
  for (const auto& [name, value] : args.options) words.push_back("--" + name + "=" + value);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  throw FatalError("cannot run the server program " + program + ": " + std::strerror(errno));
}

}  // namespace vz::cli
