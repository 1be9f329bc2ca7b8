#!/usr/bin/env bash
# Builds the bundle of one commit twice, from clean clones in two folders of
# different names and depths, and compares every file of the two bundles, the
# package's custom-action library, the debug files and the unsigned package
# byte for byte. Exits 1 when any differ.
#
#   tools/check_reproducible.sh [COMMIT]    (default HEAD; JOBS=2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$root" rev-parse --verify "${1:-HEAD}^{commit}")
work=$(mktemp -d "${TMPDIR:-/tmp}/varn-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

build() {
  git clone -q --no-checkout "$root" "$1"
  git -C "$1" checkout -q "$commit"
  echo "building $commit in $1"
  (cd "$1" && cmake --preset windows >/dev/null &&
    cmake --build --preset windows -j "${JOBS:-2}" \
      --target bundle varn_vpn_actions msi >/dev/null)
}
first=$work/a
second=$work/second/clone-of-varn
build "$first"
build "$second"

different=0
cd "$first/build/windows"
for file in $(find bundle package_actions debug package -type f | sort); do
  if cmp -s "$file" "$second/build/windows/$file"; then
    echo "same       $file  $(sha256sum "$file" | cut -c1-16)"
  else
    echo "DIFFERENT  $file"
    different=1
  fi
done
exit $different
