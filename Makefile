# Kelvane's front door: build, test, demo.
#
#   make          configure and build into $(BUILD)
#   make test     build, then run the whole test suite
#   make demo     build, then load the Nym sample into a simulated drive
#
# The machine-wide settings can be given on the command line, e.g.
# `make test BUILD=build-debug JOBS=4`.

BUILD ?= build
JOBS ?= 2
BAUD ?= 115200

.PHONY: all build test test-native demo clean

all: build

build:
	cmake -S . -B $(BUILD)
	cmake --build $(BUILD) -j$(JOBS)

# Every suite that `make test` runs is a prerequisite here.
test: test-native

# Unit tests and the end-to-end scenarios (kelvane against drive-sim).
test-native: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

demo: build
	examples/demo.sh $(BUILD) $(BAUD)

clean:
	rm -rf $(BUILD)
