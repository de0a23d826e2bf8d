// drive-sim: a simulated servo drive on a pseudo-terminal (see --help).
#include <cstdio>
#include <span>
#include <string>

#include "sim/drive_server.h"
#include "sim/sim_options.h"

int main(int argc, char** argv) {
  using namespace kelvane::sim;
  SimOptions options;
  std::string error;
  switch (ParseSimOptions(std::span<const char* const>(argv, static_cast<std::size_t>(argc)),
                          options, error)) {
    case SimParse::Help:
      PrintSimUsage(stdout);
      return 0;
    case SimParse::Version:
      std::printf("drive-sim %s\n", DRIVE_SIM_VERSION);
      return 0;
    case SimParse::Error:
      std::fprintf(stderr, "drive-sim: %s\n", error.c_str());
      return 2;
    case SimParse::Run:
      break;
  }
  return ServeDrive(options, stdout, stderr);
}
