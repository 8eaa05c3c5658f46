# The two commands of the README: `make run` and `make test`.
BUILD      ?= build
# The sanitizer trees of `make test`; the fuzz targets live in the first.
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= $(ASAN_BUILD)
JOBS       ?= $(shell nproc)
PREFIX     ?= /usr/local
FUZZ_SECONDS ?= 600
# The steps of `make test` (scripts/test-trees.sh): asan-all tsan tidy by
# default; `make test-all` runs build asan-all tsan tidy.
STEPS      ?=

.PHONY: all deps build run test test-all fuzz-build fuzz-long tidy bench install package clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD)

# Every test and the fuzz targets in the ASan+UBSan tree, the Qt-free tests
# in the TSan tree (both with the strict warnings as errors), then clang-tidy
# on the changed files; a summary of what failed at the end. test-all builds
# and tests the normal tree (gcc, as `make run` builds it) first.
test: deps
	@JOBS=$(JOBS) BUILD=$(BUILD) ASAN_BUILD=$(ASAN_BUILD) TSAN_BUILD=$(TSAN_BUILD) \
	  scripts/test-trees.sh $(STEPS)

test-all: deps
	@JOBS=$(JOBS) BUILD=$(BUILD) ASAN_BUILD=$(ASAN_BUILD) TSAN_BUILD=$(TSAN_BUILD) \
	  scripts/test-trees.sh build asan-all tsan tidy

$(ASAN_BUILD)/build.ninja: | deps
	CC=clang CXX=clang++ cmake -S . -B $(ASAN_BUILD) -G Ninja -DTW_SANITIZER=address

# Only the fuzz targets of the ASan tree.
fuzz-build: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target fuzz-targets

# Every fuzz target for FUZZ_SECONDS (default 600) each; fails on any finding.
fuzz-long: fuzz-build
	@FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz-long.sh $(FUZZ_BUILD)

# clang-tidy over the whole tree (`scripts/clang-tidy.sh --changed` for the
# files changed against main, as `make test` does).
tidy: build
	@scripts/clang-tidy.sh --all $(BUILD)

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
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
