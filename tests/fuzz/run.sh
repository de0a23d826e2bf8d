#!/usr/bin/env bash
# A bounded fuzz pass of every libFuzzer target, one process at a time.
#
#   tests/fuzz/run.sh SECONDS [TARGET...]
#
# First every committed input (tests/fuzz/corpus/<target>/ and
# tests/fuzz/regressions/<target>/) is replayed once; then each target fuzzes
# for SECONDS on a scratch copy of its corpus. A crash, a leak or a sanitizer
# report stops the script with status 1 and leaves the input under
# $KELVANE_FUZZ_WORK/<target>/ (printed).
#
# Environment:
#   KELVANE_FUZZ_BUILD  build directory (default build-fuzz; configured with
#                       clang++ and -DKELVANE_FUZZ=ON when missing)
#   KELVANE_FUZZ_RUNS   stop each target after this many executions instead of
#                       after SECONDS (SECONDS still bounds it)
#   KELVANE_FUZZ_MERGE  1: merge what the pass found back into the committed
#                       corpus with -merge=1 (keeps it minimal)
#   KELVANE_FUZZ_WORK   scratch directory (default: a fresh one under /tmp)
#   KELVANE_FUZZ_LOG    file that gets one line per target with its executions
set -euo pipefail
cd "$(dirname "$0")/../.."

if [[ $# -lt 1 || ! $1 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  targets=(word_image record_stream reply_receiver identity_records binary_images)
fi

build=${KELVANE_FUZZ_BUILD:-build-fuzz}
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DKELVANE_FUZZ=ON
fi
cmake --build "$build" -j2 >/dev/null

work=${KELVANE_FUZZ_WORK:-$(mktemp -d /tmp/kelvane-fuzz-XXXXXX)}
mkdir -p "$work"
status=0
for target in "${targets[@]}"; do
  binary=$build/bin/fuzz_$target
  corpus=tests/fuzz/corpus/$target
  regressions=tests/fuzz/regressions/$target
  mkdir -p "$work/$target/corpus" "$work/$target/artifacts"
  inputs=()
  [[ -d $corpus ]] && inputs+=("$corpus")
  [[ -d $regressions ]] && inputs+=("$regressions")

  # Every input that is committed must run clean on its own first.
  if ((${#inputs[@]} > 0)); then
    if ! "$binary" -runs=0 "${inputs[@]}" >"$work/$target/replay.log" 2>&1; then
      echo "fuzz_$target: a committed input fails; see $work/$target/replay.log" >&2
      tail -n 30 "$work/$target/replay.log" >&2
      status=1
      continue
    fi
  fi

  [[ -d $corpus ]] && cp -r "$corpus/." "$work/$target/corpus/"
  limit=(-max_total_time="$seconds")
  [[ -n ${KELVANE_FUZZ_RUNS:-} ]] && limit+=(-runs="$KELVANE_FUZZ_RUNS")
  started=$SECONDS
  if ! "$binary" "${limit[@]}" -print_final_stats=1 -rss_limit_mb=2048 \
    -artifact_prefix="$work/$target/artifacts/" "$work/$target/corpus" \
    >"$work/$target/fuzz.log" 2>&1; then
    echo "fuzz_$target: FINDING, input kept in $work/$target/artifacts/" >&2
    grep -m 5 -E "ERROR|SUMMARY|Test unit written" "$work/$target/fuzz.log" >&2 || true
    status=1
    continue
  fi
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target/fuzz.log")
  line="fuzz_$target: ${executions:-?} executions in $((SECONDS - started)) s, no finding"
  echo "$line"
  [[ -n ${KELVANE_FUZZ_LOG:-} ]] && echo "$(date -u +%FT%TZ) $line" >>"$KELVANE_FUZZ_LOG"

  if [[ ${KELVANE_FUZZ_MERGE:-0} == 1 ]]; then
    mkdir -p "$corpus"
    "$binary" -merge=1 "$corpus" "$work/$target/corpus" >"$work/$target/merge.log" 2>&1
  fi
done
[[ -z ${KELVANE_FUZZ_WORK:-} && $status -eq 0 ]] && rm -rf "$work"
exit $status
