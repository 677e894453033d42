# Front door. `make demo` is the main job, `make test` runs every test; both install what
# the machine lacks first (scripts/setup.sh), so a fresh Debian 12 machine needs nothing else.
SHELL := /bin/bash
BUILD := build
JOBS ?= $(shell nproc)

.PHONY: all setup build native tools assets win32 win64 demo-build fuzz-build in-place demo test \
  fuzz bench reliability package clean

all: build

setup:
	@bash scripts/setup.sh

build: setup native assets win32 win64

native:
	@cmake -S . -B $(BUILD)/native -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD)/native -j $(JOBS) -- --no-print-directory

# The publisher's tools alone: the package build needs no tests.
tools:
	@echo "== tools: kestrane-seal, kestrane-assets ($(BUILD)/native)"
	@cmake -S . -B $(BUILD)/native -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD)/native -j $(JOBS) --target kestrane-seal kestrane-assets -- \
	  --no-print-directory

assets: tools
	@mkdir -p $(BUILD)/assets
	@test -s $(BUILD)/assets/kvx.cok || { echo "== the sample payload $(BUILD)/assets/kvx.cok"; \
	  $(BUILD)/native/kestrane-assets payload $(BUILD)/assets/kvx.cok; }
	@test -s $(BUILD)/assets/kestrane.ico || $(BUILD)/native/kestrane-assets icon $(BUILD)/assets/kestrane.ico

# $(call configure_windows,win32|win64): configures that tree of the installer's build.
configure_windows = arch=$$([ $(1) = win32 ] && echo i686 || echo x86_64); \
	cmake -S . -B $(BUILD)/$(1) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-$$arch.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DKESTRANE_SEAL_TOOL=$(CURDIR)/$(BUILD)/native/kestrane-seal \
	  -DKESTRANE_ASSETS_TOOL=$(CURDIR)/$(BUILD)/native/kestrane-assets \
	  -DKESTRANE_ASSETS_DIR=$(CURDIR)/$(BUILD)/assets >/dev/null

win32 win64: assets
	@echo "== $@: the package, the Windows-side tests and test programs ($(BUILD)/$@)"
	@$(call configure_windows,$@) && cmake --build $(BUILD)/$@ -j $(JOBS) -- --no-print-directory

# What scripts/demo.py runs: both packages, the stand-in host, the robot and the helpers of the
# Wine harness (tests/e2e/harness.py), and the start-up probe; the shipped PE32 packages too
# where the machine runs 32-bit code under wine32, for the demo runs those there.
DEMO_TARGETS := KestraneUpdate KestraneUpdateGuarded Kestrane robot wintool keepalive startup_probe
DEMO_TARGETS_PE32 := KestraneUpdate KestraneUpdateGuarded startup_probe bitness_probe
demo-build: assets
	@echo "== win64: the x64 packages, the stand-in host, the robot and the helpers ($(BUILD)/win64)"
	@$(call configure_windows,win64) && \
	  cmake --build $(BUILD)/win64 -j $(JOBS) --target $(DEMO_TARGETS) -- --no-print-directory
	@if bash scripts/can-run-32bit.sh >/dev/null && [ -x /usr/lib/wine/wine ]; then \
	  echo "== win32: the shipped PE32 packages ($(BUILD)/win32)"; \
	  $(call configure_windows,win32) && cmake --build $(BUILD)/win32 -j $(JOBS) \
	    --target $(DEMO_TARGETS_PE32) -- --no-print-directory; \
	else echo "== win32: not built, this machine cannot run the shipped PE32 package"; fi

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

demo: setup demo-build
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
#              [SIGN_CERT=cert.pem SIGN_KEY=key.pem | SIGN_PFX=file.pfx] [SIGN_PASS=...]
#              [SIGN_TIMESTAMP=url] [SIGN_CAFILE=roots.pem] [SOURCE_DATE_EPOCH=seconds]
# The SIGN_* variables and SOURCE_DATE_EPOCH reach scripts/package.sh through the environment, as make hands on
# variables given on its command line.
package: setup tools assets
	@bash scripts/package.sh "$(PAYLOAD)" "$(VERSION)" "$(or $(ARCH),x86)" "$(OUT)" "$(or $(GUARDED),0)"

clean:
	rm -rf $(BUILD)
