# make        release build into dist/
# make run    the release under Wine, in a prefix of its own
# make test   every test: unit, binary checks, Wine scenarios
BUILD := build
WIN   := $(BUILD)/win32
HOST  := $(BUILD)/host
JOBS  := 2
MAKEFLAGS += --no-print-directory

.PHONY: all deps win32 host dist run test unit clean screenshots fuzz bench
all: dist

deps:
	@scripts/install-deps.sh

win32: deps
	@cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	@cmake --build $(WIN) -j $(JOBS)

host: deps
	@cmake -S . -B $(HOST) -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(HOST) -j $(JOBS)

dist: win32
	@scripts/make-dist.sh $(WIN)

unit: host
	@$(HOST)/unit_tests

test: dist host
	@scripts/run-tests.sh

run: dist
	@scripts/run-wine.sh

clean:
	rm -rf $(BUILD) dist
