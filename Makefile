# Kelvane's front door: build, test, demo.
#
#   make          configure and build into $(BUILD)
#   make test     build, then run the whole test suite: unit and end-to-end
#                 tests, the Windows program under Wine, the suite again under
#                 AddressSanitizer and UndefinedBehaviorSanitizer, and a short
#                 fuzz pass of every fuzz target (what CI runs)
#   make check    the unit and end-to-end tests alone (a minute or so)
#   make demo     build, then load the Nym sample into a simulated drive
#
# The machine-wide settings can be given on the command line, e.g.
# `make test BUILD=build-debug JOBS=4`.

BUILD ?= build
WINDOWS_BUILD ?= build-windows
JOBS ?= 2
BAUD ?= 115200

.PHONY: all build build-windows test check test-native test-windows test-sanitize fuzz-short \
	test-long demo bench clean

all: build

build:
	cmake -S . -B $(BUILD)
	cmake --build $(BUILD) -j$(JOBS)

# Every suite that `make test` runs is a prerequisite here.
test: test-native test-windows test-sanitize fuzz-short

check: test-native

# Unit tests and the end-to-end scenarios (kelvane against drive-sim).
test-native: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# kelvane.exe, cross-built with mingw-w64 and statically linked.
build-windows:
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
	cmake --build $(WINDOWS_BUILD) -j$(JOBS)

# The same end-to-end scenarios with kelvane.exe under Wine, its COM7 mapped
# to each scenario's drive-sim; stdout and exit status must equal the Linux
# build's.
test-windows: build build-windows
	KELVANE_WINDOWS_BUILD=$(WINDOWS_BUILD) tests/wine/check_exe.sh
	KELVANE_NATIVE_BUILD=$(BUILD) KELVANE_WINDOWS_BUILD=$(WINDOWS_BUILD) tests/wine/run_e2e.sh

# Everything again, built with AddressSanitizer and UndefinedBehaviorSanitizer;
# any sanitizer report fails it.
test-sanitize:
	tests/fuzz/sanitize.sh build-asan

# Every committed fuzz input replayed, then each fuzz target for a minute
# (clang, libFuzzer); tests/fuzz/README.md has the longer run.
fuzz-short:
	tests/fuzz/run.sh 60

# A drive that never answers: 1000 identify attempts of 200 ms each, about
# 200 s, so not part of `make test`.
test-long: build
	$(BUILD)/bin/kelvane_e2e_tests --gtest_also_run_disabled_tests --gtest_filter='*LONG_*'

demo: build
	examples/demo.sh $(BUILD) $(BAUD)

# Loader CPU and paced wall time of a whole-flash clear against drive-sim,
# peak memory, and our MD5 beside OpenSSL's (build-bench/, a few minutes).
bench:
	bench/run.sh

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD) build-asan build-fuzz build-bench
