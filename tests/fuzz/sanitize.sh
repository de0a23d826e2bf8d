#!/usr/bin/env bash
# The whole test suite built with ASan and UBSan, then the station's tests (its
# threads) with ThreadSanitizer: tests/fuzz/sanitize.sh [BUILD_DIR] [TSAN_BUILD_DIR]
# A report ends its process with status 86, which no run of the loader has, so
# a test expecting a failure cannot take it for one; any report fails the script.
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:-build-asan}
tsan_build=${2:-build-tsan}
cmake -S . -B "$build" -DKELVANE_SANITIZE=ON >/dev/null
cmake --build "$build" -j2

reports=$(mktemp -d /tmp/kelvane-sanitize-XXXXXX)
export ASAN_OPTIONS="exitcode=86:log_path=$reports/asan:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="exitcode=86:log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1"

status=0
(cd "$build" && ctest --output-on-failure -j2) || status=1

# The station's threads share the prepared image, the board and the journal;
# the C library's eight threads share two images and a stop token.
cmake -S . -B "$tsan_build" -DKELVANE_TSAN=ON >/dev/null
cmake --build "$tsan_build" -j2 --target kelvane kelvane-station drive-sim kelvane_e2e_tests \
  kelvane_capi_test
export TSAN_OPTIONS="exitcode=86:log_path=$reports/tsan:halt_on_error=1:second_deadlock_stack=1"
(cd "$tsan_build" && ctest --output-on-failure -j2 -R 'Station|^capi$') || status=1
if compgen -G "$reports/*" >/dev/null; then cat "$reports"/* >&2 && status=1
else echo "sanitizers: no reports"; fi
rm -rf "$reports"
exit $status
