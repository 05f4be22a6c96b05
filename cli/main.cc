// The vavizar command: the library plus this thin main.

#include <string>
#include <vector>

#include "cli/program.h"

int main(int argc, char** argv) {
  return vz::cli::RunProgram(std::vector<std::string>(argv + 1, argv + argc));
}
