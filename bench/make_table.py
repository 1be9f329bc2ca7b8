#!/usr/bin/env python3
"""Turns the benchmark results into the one results table.

Reads the JSON output of codec_bench and channel_bench (median CPU time of
the repetitions), prints a Markdown table and writes it, with the machine and
the date, to the given file.
"""

import argparse
import json
import sys

# Payloads in table order: (benchmark name, label, group).
PAYLOADS = [
    ("connect", '"connect" call, 600-byte config', "traffic"),
    ("stage", '"stage" call', "traffic"),
    ("success", 'success envelope "connected"', "traffic"),
    ("busy", '"busy" error envelope', "traffic"),
    ("uint8_list", "uint8 list, 1 MiB", "bulk"),
    ("float64_list", "float64 list, 262,144", "bulk"),
    ("int32_list", "int32 list, 262,144", "bulk"),
    ("string_map", "map, 1,000 string keys to int32", "structure"),
    ("mixed_list", "list, 10,000 mixed small values", "structure"),
    ("nested_lists", "lists nested 32 deep", "structure"),
]

ROUND_TRIPS = [
    ("channel/stage_round_trip/ours", '"stage" round trip through the channel'),
    ("channel/connect_busy_round_trip/ours",
     '"connect" round trip answered "busy"'),
]

TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load_medians(paths):
    """Returns the medians {benchmark name: (CPU ns, bytes per second or
    None)} and the encoded sizes {payload: bytes}."""
    medians = {}
    sizes = {}
    for path in paths:
        with open(path, encoding="utf-8") as handle:
            data = json.load(handle)
        for run in data["benchmarks"]:
            if run.get("run_type") == "aggregate" and \
                    run.get("aggregate_name") != "median":
                continue
            if run.get("error_occurred"):
                continue
            ns = run["cpu_time"] * TO_NS[run.get("time_unit", "ns")]
            medians[run["run_name"]] = (ns, run.get("bytes_per_second"))
            if "encoded_bytes" in run:
                sizes[run["run_name"].split("/")[0]] = int(run["encoded_bytes"])
    return medians, sizes


def rate(bytes_per_second):
    if bytes_per_second is None:
        return "-"
    for unit, scale in (("GB/s", 1e9), ("MB/s", 1e6), ("kB/s", 1e3)):
        if bytes_per_second >= scale:
            return f"{bytes_per_second / scale:.2f} {unit}"
    return f"{bytes_per_second:.0f} B/s"


def nanoseconds(ns):
    if ns is None:
        return "-"
    if ns >= 100:
        return f"{ns:,.0f}"
    return f"{ns:.1f}"


def ratio(value):
    return "-" if value is None else f"{value:.2f}"


def target_of(group, operation):
    if group == "bulk":
        return 0.8 if operation == "decode" else 0.5
    return None


def build_table(medians, encoded_sizes):
    header = ("| Payload | Op | Bytes (ours) | Ours ns | Ours bytes/s "
              "| msgpack-c ns | memcpy ns | Ours ÷ memcpy bandwidth "
              "| msgpack-c time ÷ ours | Target | Met |")
    rule = "|" + "---|" * 11
    lines = [header, rule]
    verdicts = []
    for key, label, group in PAYLOADS:
        copy = medians.get(f"{key}/copy/memcpy")
        for operation in ("encode", "decode"):
            ours = medians.get(f"{key}/{operation}/ours")
            peer = medians.get(f"{key}/{operation}/msgpack")
            if ours is None:
                continue
            size = encoded_sizes.get(key)
            bandwidth = copy[0] / ours[0] if copy else None
            versus = peer[0] / ours[0] if peer else None
            if group == "bulk":
                goal = target_of(group, operation)
                target = f"≥ {goal} of memcpy"
                met = bandwidth is not None and bandwidth >= goal
            elif group == "traffic":
                target = "≥ 1 vs msgpack-c"
                met = versus is not None and versus >= 1.0
            else:
                target, met = "-", None
            verdict = "-" if met is None else ("yes" if met else "NO")
            if met is not None:
                verdicts.append((label, operation, met))
            lines.append(
                f"| {label} | {operation} | {size if size else '-'} "
                f"| {nanoseconds(ours[0])} | {rate(ours[1])} "
                f"| {nanoseconds(peer[0] if peer else None)} "
                f"| {nanoseconds(copy[0] if copy else None)} "
                f"| {ratio(bandwidth)} | {ratio(versus)} | {target} "
                f"| {verdict} |")
    for key, label in ROUND_TRIPS:
        run = medians.get(key)
        if run is None:
            continue
        lines.append(f"| {label} | round trip | - | {nanoseconds(run[0])} "
                     "| - | - | - | - | - | - | - |")
    return lines, verdicts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--codec", required=True)
    parser.add_argument("--channel", required=True)
    parser.add_argument("--instructions", default="")
    parser.add_argument("--machine", default="")
    parser.add_argument("--date", default="")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    medians, sizes = load_medians([args.codec, args.channel])
    lines, verdicts = build_table(medians, sizes)

    missed = [f"{label} {operation}" for label, operation, met in verdicts
              if not met]
    notes = [
        "",
        "Times are the median CPU time of the repetitions; the ratios "
        "compare runs of the same process.",
    ]
    if args.instructions:
        notes.append(args.instructions)
    notes.append(f"Targets met: {len(verdicts) - len(missed)} of "
                 f"{len(verdicts)}" +
                 (f"; missed: {', '.join(missed)}." if missed else "."))

    heading = [f"# Benchmark results, {args.date}", "", args.machine, ""]
    text = "\n".join(lines + notes)
    print(text)
    with open(args.out, "w", encoding="utf-8") as handle:
        handle.write("\n".join(heading) + "\n" + text + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
