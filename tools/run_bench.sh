#!/usr/bin/env bash
# Runs the codec and channel benchmarks of the `bench` build, prints one
# results table and writes it to build/bench/results.md, then counts the
# instructions of one "stage" round trip under callgrind.
#
# Usage: tools/run_bench.sh [build dir]   (default build/bench)
# BENCH_MIN_TIME (seconds per repetition, default 0.05) and BENCH_REPETITIONS
# (default 5) trade run time for steadier medians.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/bench}"
bin="$build/bench"
min_time="${BENCH_MIN_TIME:-0.05}"
repetitions="${BENCH_REPETITIONS:-5}"
round_trips=1000

for program in codec_bench channel_bench channel_instructions; do
  if [ ! -x "$bin/$program" ]; then
    echo "run_bench: $bin/$program is missing; build the bench preset first" >&2
    exit 1
  fi
done

common=(--benchmark_min_time="$min_time"
        --benchmark_repetitions="$repetitions"
        --benchmark_report_aggregates_only=true
        --benchmark_out_format=json)

echo "run_bench: codec benchmarks (${repetitions} x ${min_time} s each)..." >&2
"$bin/codec_bench" "${common[@]}" --benchmark_out="$build/codec_bench.json" \
  >"$build/codec_bench.log" 2>&1
echo "run_bench: channel round trips..." >&2
"$bin/channel_bench" "${common[@]}" --benchmark_out="$build/channel_bench.json" \
  >"$build/channel_bench.log" 2>&1

# Instructions of one round trip: a run of 1 warm-up + N round trips minus a
# run of the warm-up alone, divided by N. Deterministic, so stable across runs.
instructions=""
if command -v valgrind >/dev/null; then
  echo "run_bench: callgrind..." >&2
  count_instructions() {
    local out="$build/callgrind.$1.out"
    valgrind --tool=callgrind --callgrind-out-file="$out" \
      "$bin/channel_instructions" "$1" >/dev/null 2>&1
    awk '/^totals:/ { print $2; exit }' "$out"
  }
  baseline="$(count_instructions 0)"
  measured="$(count_instructions "$round_trips")"
  per_trip=$(( (measured - baseline) / round_trips ))
  instructions="Instructions per \"stage\" round trip (callgrind, (${measured} - ${baseline}) / ${round_trips}): ${per_trip}"
else
  instructions="Instructions per \"stage\" round trip: not counted (valgrind missing)"
fi

machine="Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name:[[:space:]]*//p' | head -n1); $(uname -sr); $(g++ --version | head -n1)"
python3 "$root/bench/make_table.py" \
  --codec "$build/codec_bench.json" \
  --channel "$build/channel_bench.json" \
  --instructions "$instructions" \
  --machine "$machine" \
  --date "$(date -u '+%Y-%m-%d %H:%M UTC')" \
  --out "$build/results.md"
echo
echo "$machine"
echo "Table written to $build/results.md"
