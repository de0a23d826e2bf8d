#include "programs/console_program.h"
#include "programs/run_sequence.h"

int main(int argc, char** argv) {
  return kelvane::RunConsoleProgram(argc, argv, kelvane::RunKelvane);
}
