#!/bin/sh
# Builds and runs the load benchmarks in one go; prints the machine, every
# sample's medians, then the figures that matter beside their goals.
#
#   bench/run.sh [benchmark flags]       e.g. --benchmark_repetitions=9
#   BUILD=build-x bench/run.sh           build directory (default build-bench)
#   JOBS=1 bench/run.sh                  parallel build jobs (default 2)
#   KELVANE_BENCH_DRIVE_SIM=path/drive-sim bench/run.sh
#                                        load against another drive-sim build
#
# Needs libbenchmark-dev and libssl-dev (Debian). The load figures start real
# kelvane and drive-sim processes on a pseudo-terminal; the paced run alone
# takes about 6 s a sample, the whole run a minute or two.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build-bench}
case $build in
  /*) ;;
  *) build=$root/$build ;;
esac

cmake -S "$root" -B "$build" -DKELVANE_BENCH=ON >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target kelvane_bench >/dev/null

echo "Machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | sort -u | head -n 1), $(uname -sr)"
echo "Commit: $(git -C "$root" log -1 --format='%h %s' 2>/dev/null || echo unknown)"
exec "$build/bin/kelvane_bench" "$@"
