#!/usr/bin/env bash
# Runs every codec fuzzer of the fuzz build for the given number of seconds
# each, on a working copy of its seed corpus in the build tree. An input that
# takes longer than VARN_FUZZ_INPUT_TIMEOUT seconds (default 5, as in the
# CTest fuzz runs) fails the run and is saved with the crashes.
#   tools/run_fuzzers.sh SECONDS   (VARN_FUZZ_BUILD overrides build/fuzz)
set -euo pipefail
seconds=${1:?usage: tools/run_fuzzers.sh SECONDS}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARN_FUZZ_BUILD:-$root/build/fuzz}/fuzz
input_timeout=${VARN_FUZZ_INPUT_TIMEOUT:-5}
if [ ! -d "$build" ]; then
  echo "no fuzz build in $build: run cmake --preset fuzz and build it" >&2
  exit 1
fi
status=0
for seeds in "$root"/fuzz/corpus/*/; do
  name=$(basename "$seeds")
  fuzzer=$build/${name}_fuzzer
  corpus=$build/corpus/$name
  artifacts=$build/artifacts/$name
  mkdir -p "$corpus" "$artifacts"
  cp -n "$seeds"* "$corpus"/ 2>/dev/null || true
  echo "== $name: ${seconds}s"
  if ! "$fuzzer" -max_total_time="$seconds" -timeout="$input_timeout" \
      -rss_limit_mb=512 \
      -malloc_limit_mb=64 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus"; then
    echo "== $name FAILED (inputs in $artifacts)" >&2
    status=1
  fi
done
exit $status
