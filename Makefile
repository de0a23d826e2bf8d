# Kelvane's front door: build, test, demo.
#
#   make          configure and build into $(BUILD)
#   make test     build, then run the whole test suite
#   make demo     build, then load the Nym sample into a simulated drive
#
# The machine-wide settings can be given on the command line, e.g.
# `make test BUILD=build-debug JOBS=4`.

BUILD ?= build
WINDOWS_BUILD ?= build-windows
JOBS ?= 2
BAUD ?= 115200

.PHONY: all build build-windows test test-native test-windows demo bench clean

all: build

build:
	cmake -S . -B $(BUILD)
	cmake --build $(BUILD) -j$(JOBS)

# Every suite that `make test` runs is a prerequisite here.
test: test-native test-windows

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

demo: build
	examples/demo.sh $(BUILD) $(BAUD)

# Loader CPU and paced wall time of a whole-flash clear against drive-sim,
# peak memory, and our MD5 beside OpenSSL's (build-bench/, a few minutes).
bench:
	bench/run.sh

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD)
