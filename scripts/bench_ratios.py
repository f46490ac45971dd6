#!/usr/bin/env python3
"""Runs each library benchmark beside its raw pair and prints one table of
ratios against their goals.

The pairs and goals live in bench/goals.tsv: one row per pair, tab-separated,
library benchmark, raw benchmark, goal (the largest acceptable ratio of
library time to raw time) and a note; '#' starts a comment. Names are the
exact run names ("BM_ToUtf8_Qn/1"); a benchmark that measures real time
(its run name ends in "/real_time") is named without that suffix.

Only the benchmarks of the file run, in one process, each repeated with the
repetitions interleaved at random, so a pair always shares the machine's
state of the moment; the ratio is of the two medians. Absolute times from
different runs are never compared. CPU time is used (it leaves out time the
thread spent descheduled on a shared machine), except for benchmarks that
measure real time because their work runs on other threads.

Exit status: 0 when every pair meets its goal, 1 when one slipped or is
missing from the executable, 2 on a usage or run error.
"""

import argparse
import json
import math
import os
import re
import subprocess
import sys
import tempfile

REAL_TIME_SUFFIX = "/real_time"


class Pair:
    def __init__(self, library, raw, goal, note, line):
        self.library = library
        self.raw = raw
        self.goal = goal
        self.note = note
        self.line = line


def read_goals(path):
    pairs = []
    with open(path, encoding="utf-8") as f:
        for number, text in enumerate(f, 1):
            text = text.rstrip("\n")
            if not text.strip() or text.lstrip().startswith("#"):
                continue
            fields = [field.strip() for field in text.split("\t")]
            fields = [field for field in fields if field]
            if len(fields) < 3:
                raise ValueError(f"{path}:{number}: expected library, raw, goal and a note")
            try:
                goal = float(fields[2])
            except ValueError:
                raise ValueError(f"{path}:{number}: goal {fields[2]!r} is not a number")
            if not goal > 0:
                raise ValueError(f"{path}:{number}: goal must be positive")
            note = fields[3] if len(fields) > 3 else ""
            pairs.append(Pair(fields[0], fields[1], goal, note, number))
    if not pairs:
        raise ValueError(f"{path}: no pairs")
    return pairs


def filter_for(names):
    # The filter is matched against run names without the aggregate suffix;
    # real-time benchmarks carry "/real_time" in theirs.
    alternatives = "|".join(re.escape(name) for name in sorted(names))
    return f"^({alternatives})({re.escape(REAL_TIME_SUFFIX)})?$"


def run_benchmarks(executable, names, repetitions, min_time, extra, keep):
    with tempfile.TemporaryDirectory(prefix="bench-ratios-") as folder:
        out = keep or os.path.join(folder, "results.json")
        command = [
            executable,
            f"--benchmark_filter={filter_for(names)}",
            f"--benchmark_repetitions={repetitions}",
            "--benchmark_enable_random_interleaving=true",
            "--benchmark_report_aggregates_only=true",
            "--benchmark_format=console",
            f"--benchmark_out={out}",
            "--benchmark_out_format=json",
        ]
        if min_time is not None:
            command.append(f"--benchmark_min_time={min_time}")
        command += extra
        print("+ " + " ".join(command), file=sys.stderr, flush=True)
        # The console output goes to stderr so stdout holds only the table.
        result = subprocess.run(command, stdout=sys.stderr)
        if result.returncode != 0:
            raise RuntimeError(f"{executable} exited with {result.returncode}")
        with open(out, encoding="utf-8") as f:
            return json.load(f)


def medians(results):
    """Median time per run name, in nanoseconds, and which clock it is."""
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    found = {}
    for entry in results.get("benchmarks", []):
        if entry.get("aggregate_name") != "median":
            continue
        if entry.get("error_occurred"):
            continue
        name = entry.get("run_name", "")
        real = name.endswith(REAL_TIME_SUFFIX)
        if real:
            name = name[: -len(REAL_TIME_SUFFIX)]
        time = entry["real_time" if real else "cpu_time"] * scale[entry.get("time_unit", "ns")]
        found[name] = (time, "real" if real else "cpu")
    return found


def table(pairs, found):
    rows = []
    slipped = 0
    for pair in pairs:
        label = f"{pair.library} / {pair.raw}"
        lib, raw = found.get(pair.library), found.get(pair.raw)
        if lib is None or raw is None or raw[0] <= 0:
            missing = pair.library if lib is None else pair.raw
            rows.append((label, "-", f"{pair.goal:g}", f"MISSING ({missing})", pair.note))
            slipped += 1
            continue
        ratio = lib[0] / raw[0]
        ok = ratio <= pair.goal and math.isfinite(ratio)
        slipped += 0 if ok else 1
        rows.append((label, f"{ratio:.3f}", f"{pair.goal:g}", "ok" if ok else "SLIPPED", pair.note))
    header = ("pair (library / raw)", "ratio", "goal", "verdict", "note")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(4)]

    def line(r):
        return "  ".join(r[i].ljust(widths[i]) for i in range(4)) + "  " + r[4]

    print(line(header).rstrip())
    print("  ".join("-" * w for w in widths) + "  ----")
    for r in rows:
        print(line(r).rstrip())
    print(f"\n{len(pairs) - slipped} of {len(pairs)} pairs meet their goal"
          " (ratio = median library time / median raw time, same run).")
    return slipped


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("executable", nargs="?", default=os.path.join(root, "build/bench/qn_bench"),
                        help="the qn_bench executable (default: build/bench/qn_bench)")
    parser.add_argument("--goals", default=os.path.join(root, "bench/goals.tsv"))
    parser.add_argument("--repetitions", type=int, default=5)
    # Short repetitions keep a whole run to minutes on a loaded machine; the
    # median of five still settles the ratio.
    parser.add_argument("--min-time", default="0.1", help="passed on as --benchmark_min_time")
    parser.add_argument("--only", metavar="REGEX",
                        help="keep only the pairs whose library or raw name matches")
    parser.add_argument("--json-out", metavar="FILE", help="keep the run's JSON output there")
    parser.add_argument("--from-json", metavar="FILE",
                        help="read an earlier run's JSON output instead of running")
    parser.add_argument("extra", nargs="*", default=[],
                        help="after --: more arguments for the benchmark executable")
    args = parser.parse_args()
    try:
        pairs = read_goals(args.goals)
        if args.only:
            keep = re.compile(args.only)
            pairs = [p for p in pairs if keep.search(p.library) or keep.search(p.raw)]
            if not pairs:
                raise ValueError(f"no pair matches {args.only!r}")
        if args.from_json:
            with open(args.from_json, encoding="utf-8") as f:
                results = json.load(f)
        else:
            names = {p.library for p in pairs} | {p.raw for p in pairs}
            results = run_benchmarks(args.executable, names, args.repetitions, args.min_time,
                                     args.extra, args.json_out)
    except (OSError, ValueError, RuntimeError, json.JSONDecodeError) as e:
        print(f"bench_ratios: {e}", file=sys.stderr)
        return 2
    return 1 if table(pairs, medians(results)) else 0


if __name__ == "__main__":
    sys.exit(main())
