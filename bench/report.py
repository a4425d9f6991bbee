#!/usr/bin/env python3
"""Turns the benchmark's raw results into a table of medians and ratios
(program/floor, program/peer) and bench/results/summary.json. The spread
column is the standard deviation over the mean: how noisy the machine was;
the slowest column, the slowest run over the median. Peak RSS is the
memory the run touched: the program maps no file, so all of it but the
program's own pages is memory the run touched fresh."""

import json
import os
import platform
import sys

# Our command -> (floor, peer) it is measured against.
PAIRS = {
    "check middle": ("floor read", "peer check middle"),
    "check last": ("floor read", "peer check last"),
    "check missing": ("floor read", "peer check last"),
    "add": ("floor rewrite", "peer add"),
    "add -r": ("floor rewrite", "peer add"),
    "remove": ("floor rewrite", "peer remove"),
    "previous check middle": ("floor read", "peer check middle"),
    "previous check missing": ("floor read", "peer check last"),
    "previous add": ("floor rewrite", "peer add"),
    "previous remove": ("floor rewrite", "peer remove"),
}


def load(results, n):
    with open(os.path.join(results, "hyperfine-%d.json" % n)) as f:
        runs = json.load(f)["results"]
    medians = {r["command"]: r["median"] * 1000 for r in runs}
    spread = {r["command"]: 100 * (r["stddev"] or 0) / r["mean"] for r in runs}
    slowest = {r["command"]: r["max"] * 1000 / (r["median"] * 1000) for r in runs}
    memory = {}
    with open(os.path.join(results, "memory-%d.txt" % n)) as f:
        for line in f:
            name, kb = line.rstrip("\n").split("|")
            memory[name] = int(kb) / 1024
    with open(os.path.join(results, "bytes-%d.txt" % n)) as f:
        size = int(f.read())
    return medians, spread, slowest, memory, size


def machine():
    model = platform.machine()
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    # Other work on a shared machine shows in the load average.
    return "%s, %d cores, Linux %s, load average %.1f" % (
        model, os.cpu_count(), platform.release(), os.getloadavg()[0])


def main():
    results, sizes = sys.argv[1], [int(s) for s in sys.argv[2:]]
    summary = {"machine": machine(), "sizes": {}}
    print("Machine: " + summary["machine"])
    for n in sizes:
        medians, spread, slowest, memory, size = load(results, n)
        rows = {}
        for name, median in medians.items():
            row = {"median_ms": round(median, 2), "spread_pct": round(spread[name]),
                   "slowest_vs_median": round(slowest[name], 2),
                   "peak_rss_mb": round(memory.get(name, 0), 1)}
            if name in PAIRS and PAIRS[name][1] in medians:
                floor, peer = PAIRS[name]
                row["vs_floor"] = round(median / medians[floor], 2)
                row["vs_peer"] = round(median / medians[peer], 2)
                row["rss_vs_file"] = round(memory[name] * 1024 * 1024 / size, 2)
            rows[name] = row
        summary["sizes"][n] = {"file_bytes": size, "bytes_per_record": round(size / n, 1),
                               "commands": rows}

        print("\n### %d users (%.1f MB, %.1f bytes per record)\n" % (n, size / 1e6, size / n))
        print("| command | median ms | spread | slowest | peak RSS MB | x floor | x peer |"
              " RSS / file |")
        print("|---|---:|---:|---:|---:|---:|---:|---:|")
        for name, row in rows.items():
            print("| %s | %.1f | %d%% | %.2f | %.1f | %s | %s | %s |" % (
                name, row["median_ms"], row["spread_pct"], row["slowest_vs_median"],
                row["peak_rss_mb"], row.get("vs_floor", ""), row.get("vs_peer", ""),
                row.get("rss_vs_file", "")))

    if 100000 in sizes and 1000000 in sizes:
        big, small = summary["sizes"][1000000]["commands"], summary["sizes"][100000]["commands"]
        growth = {name: round(big[name]["median_ms"] / small[name]["median_ms"], 1)
                  for name in PAIRS if name in big and name in small}
        summary["growth_1m_over_100k"] = growth
        print("\nGrowth, 1,000,000 over 100,000 users: " +
              ", ".join("%s %.1fx" % item for item in growth.items()))

    with open(os.path.join(results, "summary.json"), "w") as f:
        json.dump(summary, f, indent=2)
    print("\nwritten: %s" % os.path.join(results, "summary.json"))


if __name__ == "__main__":
    main()
