# The two commands of the README: `make run` and `make test`.
BUILD      ?= build
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
PREFIX     ?= /usr/local
FUZZ_SECONDS ?= 600

.PHONY: all deps build run test fuzz-build fuzz-long bench install package clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD)

test: build fuzz-build
	ctest --test-dir $(BUILD) --output-on-failure
	ctest --test-dir $(FUZZ_BUILD) --output-on-failure

$(FUZZ_BUILD)/build.ninja: | deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DTW_FUZZ_ONLY=ON

fuzz-build: deps $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

# Every fuzz target for FUZZ_SECONDS (default 600) each; fails on any finding.
fuzz-long: fuzz-build
	@FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz-long.sh $(FUZZ_BUILD)

bench: build
	@scripts/bench.sh $(BUILD)

# The programs to PREFIX/bin, tarnix-helper with its capabilities to
# PREFIX/libexec/tarnwatch/, the unit, manual pages, desktop entry and icons
# (needs root).
install: build
	@PREFIX=$(PREFIX) scripts/install.sh $(BUILD)

# The Debian packages tarnwatch-daemon and tarnwatch, into BUILD (replacing
# those of earlier versions, so that ./BUILD/tarnwatch_*.deb names one file).
package: build
	rm -f $(BUILD)/tarnwatch_*.deb $(BUILD)/tarnwatch-daemon_*.deb
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
