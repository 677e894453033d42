# Front door. `make demo` is the main job, `make test` runs every test; both install what
# the machine lacks first (scripts/setup.sh), so a fresh Debian 12 machine needs nothing else.
SHELL := /bin/bash
BUILD := build
JOBS ?= $(shell nproc)

.PHONY: all setup build native assets win32 win64 fuzz-build in-place demo test fuzz bench \
  reliability package clean

all: build

setup:
	@bash scripts/setup.sh

build: setup native assets win32 win64

native:
	@cmake -S . -B $(BUILD)/native -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD)/native -j $(JOBS) -- --no-print-directory

assets: native
	@mkdir -p $(BUILD)/assets
	@test -s $(BUILD)/assets/kvx.cok || $(BUILD)/native/kestrane-assets payload $(BUILD)/assets/kvx.cok
	@test -s $(BUILD)/assets/kestrane.ico || $(BUILD)/native/kestrane-assets icon $(BUILD)/assets/kestrane.ico

win32 win64: assets
	@arch=$$([ $@ = win32 ] && echo i686 || echo x86_64); \
	cmake -S . -B $(BUILD)/$@ -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-$$arch.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DKESTRANE_SEAL_TOOL=$(CURDIR)/$(BUILD)/native/kestrane-seal \
	  -DKESTRANE_ASSETS_DIR=$(CURDIR)/$(BUILD)/assets >/dev/null && \
	cmake --build $(BUILD)/$@ -j $(JOBS) -- --no-print-directory

fuzz-build: setup
	@CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz -DKESTRANE_FUZZ=ON >/dev/null
	@cmake --build $(BUILD)/fuzz -j $(JOBS)

# The test build of each package kind that writes its target in place (the reliability
# suite's control); not part of `build`, so that nothing ships it by mistake.
in-place: win32 win64
	@for b in win32 win64; do \
	  cmake --build $(BUILD)/$$b --target KestraneUpdateInPlace -j $(JOBS) -- --no-print-directory \
	    >/dev/null || exit 1; \
	done

demo: build
	@bash scripts/demo.sh

test: build fuzz-build in-place
	@bash scripts/test.sh

fuzz: fuzz-build
	@FUZZ_KEEP=1 bash scripts/fuzz.sh $(or $(SECONDS_EACH),120)

bench: build
	@bash scripts/bench.sh

# make reliability [KILLS=n] [ROUNDS=n] [FUZZ_SECONDS=n]: killed runs, runs at once, faults
# from outside and long fuzzing, as one table (build/reliability/report.md).
reliability: build fuzz-build in-place
	@python3 tests/reliability/reliability.py --kills $(or $(KILLS),200) \
	  --rounds $(or $(ROUNDS),50) --fuzz-seconds $(or $(FUZZ_SECONDS),600)

# make package PAYLOAD=path VERSION=n [ARCH=x86|x64] [OUT=file.exe] [GUARDED=1]
package: setup native assets
	@bash scripts/package.sh "$(PAYLOAD)" "$(VERSION)" "$(or $(ARCH),x86)" "$(OUT)" "$(or $(GUARDED),0)"

clean:
	rm -rf $(BUILD)
