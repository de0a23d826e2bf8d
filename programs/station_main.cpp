#include "programs/console_program.h"
#include "programs/station.h"

int main(int argc, char** argv) {
  return kelvane::RunConsoleProgram(argc, argv, kelvane::RunStation);
}
