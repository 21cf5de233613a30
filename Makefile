# make        release build into dist/ (installs only the build tools)
# make run    the release under Wine, in a prefix of its own
# make test   every test: unit, binary checks, Wine scenarios
# make fuzz   each fuzz target for FUZZ_SECONDS seconds (default 60)
# make bench  TARNWICK.EXE side by side with a floor program under Wine
BUILD := build
WIN   := $(BUILD)/win32
HOST  := $(BUILD)/host
JOBS  := 2
MAKEFLAGS += --no-print-directory
# Every time stamp and serial number of a release (the EXE headers, the zip,
# the floppy and CD images) is this moment: the last commit's, unless given.
export SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null || echo 1704067200)

.PHONY: all deps deps-build programs win32 host dist run test unit clean screenshots fuzz bench
all: dist

# Everything the tests and Wine need; deps-build only what the release needs.
deps:
	@scripts/install-deps.sh

deps-build:
	@scripts/install-deps.sh build

# The two shipped programs; win32 adds the tools of the tests and the bench.
programs: deps-build
	@cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	@cmake --build $(WIN) -j $(JOBS) --target tarnwick restart

win32: programs
	@cmake --build $(WIN) -j $(JOBS)

host: deps
	@cmake -S . -B $(HOST) -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(HOST) -j $(JOBS)

dist: programs
	@scripts/make-dist.sh $(WIN)

unit: host
	@$(HOST)/unit_tests

test: dist win32 host
	@scripts/run-tests.sh

run: dist deps
	@scripts/run-wine.sh

# Pictures of the dialog, the tray menu and the About box under Wine, for README.md.
screenshots: dist deps
	@/usr/bin/python3 tests/wine/run_scenarios.py -k about_box_once -k real_tray_icon_clicks --screenshots $(CURDIR)/docs

# Side by side with the floor program under Wine; not part of make test.
bench: win32 deps
	@/usr/bin/python3 bench/run_bench.py

# Each fuzz target in turn for FUZZ_SECONDS seconds (clang, libFuzzer, ASan, UBSan).
FUZZ_SECONDS ?= 60
fuzz: deps
	@fuzz/run.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) dist
