/* A whole-flash clear of a Nym drive through libkelvane, as kelvane /d makes
 * it: kelvane_bench weighs this process's CPU against kelvane's.
 *   kelvane_library_load PORT BAUD */
#include <stdio.h>
#include <stdlib.h>

#include "kelvane.h"

int main(int argc, char** argv) {
  kelvane_job job = {0};
  if (argc != 3) {
    fprintf(stderr, "use: kelvane_library_load PORT BAUD\n");
    return 2;
  }
  job.size = sizeof job;
  job.port = argv[1];
  job.baud = atoi(argv[2]);
  job.family = "nym";
  job.operation = KELVANE_CLEAR_ALL;
  return kelvane_run(&job, NULL);
}
