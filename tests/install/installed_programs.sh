#!/usr/bin/env bash
# The programs as installed into a temporary prefix, run from a directory
# outside the source tree, one loading the installed samples into the other
# as the installed documents' examples say; the installed manual pages
# render without a warning; the library, its header, pkg-config file and
# manual page and the Python module are installed with them.
#   tests/install/installed_programs.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d /tmp/kelvane-install-XXXXXX) row=0
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" --strip >"$work/install.log"
for file in bin/kelvane bin/kelvane-station bin/drive-sim share/man/man1/kelvane.1 \
  share/man/man1/kelvane-station.1 share/doc/kelvane/README.md \
  share/doc/kelvane/examples/nym_sample.s share/doc/kelvane/examples/tk720_digest_sample.bin \
  lib/libkelvane.so.1 lib/libkelvane.so include/kelvane.h share/man/man3/kelvane.3 \
  lib/python3/dist-packages/kelvane/__init__.py; do
  [[ -f $prefix/$file ]] || fail "$file not installed"
done
# kelvane.pc names the prefix installed to, not the one configured.
grep -q -x "prefix=$prefix" "$prefix/lib/pkgconfig/kelvane.pc" || fail "kelvane.pc: $(cat "$prefix/lib/pkgconfig/kelvane.pc")"
# A program that named a path in the source or build tree would break once
# those are gone (SOURCE_DIR is empty for a sanitizer build).
for program in "$prefix"/bin/*; do
  [[ -z $source ]] || ! grep -q -F -e "$source" -e "$(cd "$build" && pwd)" "$program" ||
    fail "$program names the source or build tree"
done

# The installed README's and manual pages' drive-sim examples must load as written, only the link
# put in the work directory and the README's examples/ the installed one.
docs=$prefix/share/doc/kelvane
mkdir "$work/run" && cp "$docs/examples/nym_sample.s" "$work/run"
example() {
  # What an example starts in the background ends with it, also when it fails before its own
  # kill: a drive-sim left running would outlive the tests.
  { echo 'trap "kill \$(jobs -p) 2>/dev/null || true" EXIT; trap "exit 143" TERM INT'
    sed -e "s|/tmp/drive|$work/drive|g" -e "s| examples/| $docs/examples/|g"; } >"$work/$1.sh"
  # One that still names /tmp/drive (in a form the rewrite misses) must use it as written: a
  # lock keeps two test runs on one machine from meeting there.
  local lock=()
  ! grep -q /tmp/drive "$work/$1.sh" || lock=(flock /tmp/drive.lock)
  (cd "$work/run" && PATH=$prefix/bin:$PATH timeout 60 "${lock[@]}" bash -e "$work/$1.sh") \
    >"$work/$1.out" 2>&1 &&
    grep -q 'successufully verifyed' "$work/$1.out" || fail "example $1: $(cat "$work/$1.sh" "$work/$1.out")"
}
example readme < <(sed -n '/^    drive-sim .*&$/,/^$/s/^    //p' "$docs/README.md")
sed -n 's/^| [^|]* | `\(drive-sim [^`]*\)` | `\(kelvane [^`]*\)` |$/\1 \&;\2/p' "$docs/README.md" >"$work/rows"
[[ $(wc -l <"$work/rows") -eq 5 ]] || fail "README: not five drive-sim examples"
while IFS=';' read -r sim loader; do
  example "row$((++row))" <<<"$sim"$'\nuntil [ -e /tmp/drive ]; do sleep 0.1; done\n'"$loader"$'\nkill $!'
done <"$work/rows"
for page in kelvane drive-sim; do
  example "$page" < <(awk '/^\.(EX|nf)$/ {b=""; on=1; next} /^\.(EE|fi)$/ {if (b ~ /until/) printf "%s", b; on=0}
    on && !/^\./ {b = b $0 "\n"}' "$prefix/share/man/man1/$page.1" | sed -e 's/\\-/-/g' -e 's/\\e/\\/g')
done
# The station loads it too, its transcript what kelvane prints.
example station <<<"drive-sim --link /tmp/drive &"$'\nuntil [ -e /tmp/drive ]; do sleep 0.1; done\n'\
"kelvane-station /c/tmp/drive /otranscripts nym_sample.s"$'\nkill $!\ncat transcripts/*.txt'

for page in "$prefix"/share/man/man1/*.1; do
  warnings=$( (MANWIDTH=80 man --warnings -l "$page" >/dev/null) 2>&1; groff -man -ww -z "$page" 2>&1)
  [[ -z $warnings ]] || fail "$page: $warnings"
done
echo "installed programs: pass"
