#!/usr/bin/env bash
# `make demo`: runs the bundle (built by the Makefile) end to end under Wine
# with the stand-in engine playing a short session: stage, connect, stage,
# disconnect, stage, close. Prints the session as a log and saves a
# screenshot of the window while connected as build/demo/varn_vpn.png.
#
#   tools/demo.sh [BUNDLE_DIR]    (default build/windows/bundle)
set -euo pipefail
cd "$(dirname "$0")/.."

bundle=${1:-build/windows/bundle}
if [ ! -f "$bundle/varn_vpn.exe" ] ||
   [ ! -f "$bundle/../bin/provision_service.exe" ]; then
  echo "demo: no bundle in $bundle; build it with" \
       "cmake --build --preset windows --target bundle provision_service" >&2
  exit 1
fi
exec python3 tools/demo.py "$bundle" build/demo 2> >(grep -v -e fixme \
  -e 'wine32 is missing' -e 'multiarch needs' -e 'dpkg --add-arch' \
  -e 'apt-get install wine32' >&2)
