#!/usr/bin/env bash
# The programs as installed into a temporary prefix, run from a directory
# outside the source tree, one loading the installed Nym sample into the
# other; and the installed manual pages render without a warning.
#   tests/install/installed_programs.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d /tmp/kelvane-install-XXXXXX) sim_pid=""
trap 'kill "$sim_pid" 2>/dev/null || true; wait; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" --strip >"$work/install.log"
for file in bin/kelvane bin/kelvane-station bin/drive-sim share/man/man1/kelvane.1 \
  share/man/man1/kelvane-station.1 share/doc/kelvane/README.md \
  share/doc/kelvane/examples/nym_sample.s share/doc/kelvane/examples/tk720_digest_sample.bin; do
  [[ -f $prefix/$file ]] || fail "$file not installed"
done
# A program that named a path in the source or build tree would break once
# those are gone (SOURCE_DIR is empty for a sanitizer build).
for program in "$prefix"/bin/*; do
  [[ -z $source ]] || ! grep -q -F -e "$source" -e "$(cd "$build" && pwd)" "$program" ||
    fail "$program names the source or build tree"
done

mkdir "$work/run" && cd "$work/run"
"$prefix/bin/drive-sim" --link "$work/drive" --flash-out "$work/flash.bin" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [[ -e $work/drive ]] && break; sleep 0.05; done
cp "$prefix/share/doc/kelvane/examples/nym_sample.s" fw.s
status=0
"$prefix/bin/kelvane" "/c$work/drive" fw.s >"$work/kelvane.out" || status=$?
[[ $status -eq 0 && $(<"$work/kelvane.out") == *$'\r\nFirmware was successufully verifyed\r' ]] ||
  fail "kelvane exited with $status: $(cat "$work/kelvane.out")"
"$prefix/bin/kelvane-station" "/c$work/drive" fw.s >"$work/station.out" || status=$?
[[ $status -eq 0 && $(<"$work/station.out") == *$'\n1 drives: 1 verified, 0 mismatched, 0 failed' ]] ||
  fail "kelvane-station exited with $status: $(cat "$work/station.out")"

for page in "$prefix"/share/man/man1/*.1; do
  warnings=$( (MANWIDTH=80 man --warnings -l "$page" >/dev/null) 2>&1; groff -man -ww -z "$page" 2>&1)
  [[ -z $warnings ]] || fail "$page: $warnings"
done
echo "installed programs: pass"
