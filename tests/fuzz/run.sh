#!/usr/bin/env bash
# tests/fuzz/run.sh SECONDS [TARGET...]: each target's corpus replayed, then
# SECONDS of fuzzing on a scratch copy; a finding gives status 1, input kept.
#   KELVANE_FUZZ_BUILD  build directory (default build-fuzz, made with clang++)
#   KELVANE_FUZZ_RUNS   also stop each target after this many executions
#   KELVANE_FUZZ_MERGE  1: merge new coverage into the committed corpus
set -euo pipefail
cd "$(dirname "$0")/../.."
[[ ${1:-} =~ ^[0-9]+$ ]] || { echo "usage: $0 SECONDS [TARGET...]" >&2; exit 2; }
seconds=$1 && shift
targets=("${@:-word_image record_stream reply_receiver identity_records binary_images intel_hex elf_file}")
read -ra targets <<<"${targets[*]}"
build=${KELVANE_FUZZ_BUILD:-build-fuzz}
[[ -f $build/CMakeCache.txt ]] || cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DKELVANE_FUZZ=ON
cmake --build "$build" -j2 >/dev/null

work=$(mktemp -d /tmp/kelvane-fuzz-XXXXXX)
status=0
for target in "${targets[@]}"; do
  binary=$build/bin/fuzz_$target corpus=tests/fuzz/corpus/$target scratch=$work/$target
  mkdir -p "$scratch/corpus" "$scratch/artifacts"
  if ! "$binary" -runs=0 "$corpus" >"$scratch/replay.log" 2>&1; then
    echo "fuzz_$target: a committed input fails" >&2 && tail -n 30 "$scratch/replay.log" >&2
    status=1 && continue
  fi
  cp -r "$corpus/." "$scratch/corpus/"
  limit=(-max_total_time="$seconds")
  [[ -n ${KELVANE_FUZZ_RUNS:-} ]] && limit+=(-runs="$KELVANE_FUZZ_RUNS")
  if ! "$binary" "${limit[@]}" -print_final_stats=1 -rss_limit_mb=2048 \
    -artifact_prefix="$scratch/artifacts/" "$scratch/corpus" >"$scratch/fuzz.log" 2>&1; then
    echo "fuzz_$target: FINDING, input kept in $scratch/artifacts/" >&2
    grep -m 5 -E "ERROR|SUMMARY|Test unit written" "$scratch/fuzz.log" >&2 || true
    status=1 && continue
  fi
  echo "fuzz_$target: $(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/fuzz.log") executions, no finding"
  [[ ${KELVANE_FUZZ_MERGE:-0} != 1 ]] || "$binary" -merge=1 "$corpus" "$scratch/corpus" >"$scratch/merge.log" 2>&1
done
((status != 0)) || rm -rf "$work"
exit $status
