#!/usr/bin/env python3
"""Ratios of paired benchmarks run in rounds ("name/round:N").

Reads Google Benchmark's JSON output (--benchmark_format=json or
--benchmark_out=FILE) and prints, for each benchmark, the median over the
rounds of its time divided by the peer's time in the same round, with the
lowest and highest ratio.

    tools/bench_ratios.py results.json BM_True_StartToEnd
"""
import json
import re
import statistics
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: bench_ratios.py RESULTS.json PEER_BENCHMARK")
    with open(sys.argv[1]) as f:
        results = json.load(f)
    peer = sys.argv[2]
    times = {}
    for entry in results.get("benchmarks", []):
        match = re.fullmatch(r"(.+)/round:(\d+)(/.*)?", entry.get("name", ""))
        if match is None or entry.get("error_occurred"):
            continue
        times.setdefault(match.group(1), {})[int(match.group(2))] = entry["real_time"]
    if peer not in times:
        sys.exit(f"no rounds of {peer}")
    for name, rounds in sorted(times.items()):
        if name == peer:
            continue
        ratios = [time / times[peer][r] for r, time in rounds.items() if times[peer].get(r)]
        if ratios:
            print(f"{name}: median {statistics.median(ratios):.2f}x {peer} "
                  f"(range {min(ratios):.2f}-{max(ratios):.2f}, {len(ratios)} rounds)")


if __name__ == "__main__":
    main()
