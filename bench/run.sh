#!/bin/sh
# Builds and runs the load benchmarks in one go; prints the machine, then
# the median of each figure beside its goal: the loads through the program,
# then those of eight Python threads through the module (bench/python_threads.py).
#
#   bench/run.sh [runs]                  runs of each figure (default 5)
#   BUILD=build-x bench/run.sh           build directory (default build-bench)
#   JOBS=1 bench/run.sh                  parallel build jobs (default 2)
#
# Needs libssl-dev (Debian). The load figures start real kelvane and
# drive-sim processes on a pseudo-terminal; a run of all three loads takes
# about 13 s, five runs a minute or so.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build-bench}
case $build in
  /*) ;;
  *) build=$root/$build ;;
esac

cmake -S "$root" -B "$build" -DKELVANE_BENCH=ON -DKELVANE_TESTS=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target kelvane_bench kelvane_shared drive-sim >/dev/null

echo "Machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | sort -u | head -n 1), $(uname -sr)"
echo "Commit: $(git -C "$root" log -1 --format='%h %s' 2>/dev/null || echo unknown)"
status=0
"$build/bin/kelvane_bench" "$@" || status=$?
# Eight Python threads loading eight paced drive-sims through the module.
KELVANE_LIBRARY=$build/libkelvane.so.1 DRIVE_SIM_BIN=$build/bin/drive-sim \
  python3 "$root/bench/python_threads.py" "$@" || status=$?
exit $status
