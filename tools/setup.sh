#!/usr/bin/env bash
# Installs every Debian package the build, tests, fuzzers, benchmarks, the
# installer package and the demo need. Does nothing when they are all present.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  clang libclang-rt-14-dev libfuzzer-14-dev
  libgtest-dev libgmock-dev googletest
  libbenchmark-dev libmsgpack-cxx-dev valgrind
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth x11-apps imagemagick python3
  msitools wixl python3-pefile osslsigncode openssl
  samba python3-samba libuid-wrapper libnss-wrapper libsocket-wrapper
  python3-gi gir1.2-libmsi-1.0
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

sudo=""
if [ "$(id -u)" != 0 ]; then sudo=sudo; fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
