#!/bin/sh
# tests/capi/exports.sh LIBRARY HEADER: the library exports the header's
# functions and nothing else, and names itself libkelvane.so.1.
set -eu
declared=$(grep -o 'kelvane_[a-z_]*(' "$2" | tr -d '(' | sort -u)
exported=$(nm -D --defined-only "$1" | awk '{print $3}' | sort -u)
[ "$declared" = "$exported" ] || { printf 'exported:\n%s\ndeclared:\n%s\n' "$exported" "$declared"; exit 1; }
objdump -p "$1" | grep -q 'SONAME *libkelvane\.so\.1$'
