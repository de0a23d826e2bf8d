# Kelvane's front door. The work is done by scripts that need no make
# (./demo, ./run-tests, scripts/make-packages), so a bare machine can run them
# first; these targets call them.
#
#   make          configure and build the programs into $(BUILD): kelvane,
#                 kelvane-station, drive-sim and libkelvane, all that `make
#                 install` installs
#   make demo     build, then load the Nym sample into a simulated drive
#   make check    the unit, end-to-end and install tests (a minute or so)
#   make test     the whole test suite, as CI runs it: the above, the Windows
#                 program under Wine, the native suite under AddressSanitizer
#                 and UndefinedBehaviorSanitizer, a short fuzz pass of every
#                 fuzz target, and the packages built and checked
#   make install  install into $(PREFIX) (default /usr/local)
#   make package  the .deb files, the static Linux .tar.gz and the Windows .zip,
#                 into build-packages/
#
# The machine-wide settings can be given on the command line, e.g.
# `make test BUILD=build-debug JOBS=4` or `make install PREFIX=$HOME/.local`.

BUILD ?= build
WINDOWS_BUILD ?= build-windows
JOBS ?= 2
BAUD ?= 115200
PREFIX ?= /usr/local

export KELVANE_BUILD_DIR = $(BUILD)
export KELVANE_WINDOWS_BUILD_DIR = $(WINDOWS_BUILD)
export KELVANE_JOBS = $(JOBS)

.PHONY: all build build-windows install package test check test-native test-windows \
	test-sanitize fuzz-short test-packages test-long demo bench clean

all: build

# The programs and the library, all that install puts under the prefix; the tests
# are built by the first `make check`.
build:
	cmake -S . -B $(BUILD)
	cmake --build $(BUILD) -j$(JOBS) --target kelvane kelvane-station drive-sim kelvane_shared

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

package:
	scripts/make-packages build-packages

test:
	./run-tests

check test-native:
	./run-tests native

# kelvane.exe, cross-built with mingw-w64 and statically linked.
build-windows:
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
	cmake --build $(WINDOWS_BUILD) -j$(JOBS)

# The end-to-end scenarios with kelvane.exe (and kelvane-station.exe on COM4
# to COM6) under Wine, its COM7 mapped to
# each scenario's drive-sim; stdout and exit status must equal the Linux
# build's.
test-windows:
	./run-tests windows

# The native suite again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer, then the station's tests with ThreadSanitizer;
# any sanitizer report fails it.
test-sanitize:
	./run-tests sanitize

# Every committed fuzz input replayed, then each fuzz target for 30 seconds
# (clang, libFuzzer); tests/fuzz/README.md has the longer run.
fuzz-short:
	./run-tests fuzz

# The packages built and checked: contents, lintian, the library and module unpacked.
test-packages:
	./run-tests packages

# A drive that never answers: 1000 identify attempts of 200 ms each, about
# 200 s, so not part of `make test`.
test-long: check
	$(BUILD)/bin/kelvane_e2e_tests --gtest_also_run_disabled_tests --gtest_filter='*LONG_*'

demo:
	./demo $(BAUD)

# Loader CPU and paced wall time of a whole-flash clear against drive-sim,
# peak memory, and our MD5 beside OpenSSL's (build-bench/, a few minutes).
bench:
	scripts/install-deps build bench
	bench/run.sh

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD) build-asan build-tsan build-fuzz build-bench build-package-* build-packages
