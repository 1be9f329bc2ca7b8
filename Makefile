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

# The installer package, build/package/VarnVPN-<version>-x64[-stand-ins].msi,
# of the bundle folder BUNDLE: by default the one the windows build lays out,
# with the stand-in libraries (which the package's names then say), or e.g.
# one holding the production libraries. STAND_INS=1 allows stand-ins in
# another folder. Signed when given SIGN_CERT and SIGN_KEY (PEM) or SIGN_PFX,
# with SIGN_PASS_FILE, SIGN_TIMESTAMP (a time-stamp URL), SIGN_CA (to verify
# against), SIGN_PKCS11_MODULE and SIGN_PKCS11_ENGINE (a key in hardware:
# SIGN_KEY is then its PKCS#11 URI).
DEFAULT_BUNDLE := build/windows/bundle
BUNDLE ?= $(DEFAULT_BUNDLE)
ifeq ($(BUNDLE),$(DEFAULT_BUNDLE))
STAND_INS := 1
endif
sign_options = $(if $(SIGN_CERT),--sign-cert "$(SIGN_CERT)") \
  $(if $(SIGN_KEY),--sign-key "$(SIGN_KEY)") \
  $(if $(SIGN_PFX),--sign-pkcs12 "$(SIGN_PFX)") \
  $(if $(SIGN_PASS_FILE),--sign-pass-file "$(SIGN_PASS_FILE)") \
  $(if $(SIGN_TIMESTAMP),--sign-timestamp "$(SIGN_TIMESTAMP)") \
  $(if $(SIGN_CA),--sign-ca "$(SIGN_CA)") \
  $(if $(SIGN_PKCS11_MODULE),--sign-pkcs11-module "$(SIGN_PKCS11_MODULE)") \
  $(if $(SIGN_PKCS11_ENGINE),--sign-pkcs11-engine "$(SIGN_PKCS11_ENGINE)")
package: setup
	cmake --preset windows >/dev/null
ifeq ($(BUNDLE),$(DEFAULT_BUNDLE))
	cmake --build --preset windows -j $(JOBS) --target bundle
endif
	cmake --build --preset windows -j $(JOBS) --target varn_vpn_actions
	/usr/bin/python3 tools/package/make_msi.py --bundle "$(BUNDLE)" \
	  --actions build/windows/package_actions/varn_vpn_actions.dll \
	  --output-dir build/package $(if $(STAND_INS),--stand-ins) \
	  $(sign_options)

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
