# Front door: `make test` and `make demo` work on a fresh Debian 12 machine.
SHELL := /bin/bash
.DEFAULT_GOAL := test
JOBS ?= 2

.PHONY: setup configure build test package demo bench fuzz format clean

setup:
	@tools/setup.sh

configure: setup
	cmake --preset host >/dev/null
	cmake --preset host-tsan >/dev/null
	cmake --preset windows >/dev/null
	cmake --preset fuzz >/dev/null

build: configure
	cmake --build --preset host -j $(JOBS)
	cmake --build --preset host-tsan -j $(JOBS)
	cmake --build --preset windows -j $(JOBS)
	cmake --build --preset fuzz -j $(JOBS)

# One CTest run over every suite (host, ThreadSanitizer, Windows under Wine,
# short fuzz runs), so the last line is CTest's summary of all of them.
test: build
	@tools/ctest_all.sh -j $(JOBS)

# The installer package, build/package/VarnVPN-<version>-x64.msi, of the
# bundle folder BUNDLE: by default the one the windows build lays out (with
# the stand-ins), or e.g. one holding the production libraries.
DEFAULT_BUNDLE := build/windows/bundle
BUNDLE ?= $(DEFAULT_BUNDLE)
package: setup
ifeq ($(BUNDLE),$(DEFAULT_BUNDLE))
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS) --target bundle
endif
	python3 tools/package/make_msi.py --bundle "$(BUNDLE)" --output-dir build/package

fuzz: setup
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	tools/run_fuzzers.sh 180

bench: setup
	cmake --preset bench >/dev/null
	cmake --build --preset bench -j $(JOBS)
	tools/run_bench.sh

demo: setup
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS) --target bundle provision_service
	tools/demo.sh

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf build
