#!/usr/bin/env python3
"""Turns the JSON output of a benchmark program into the ratio tables of docs/performance.md.

Benchmarks are named "<ours or peer>/<operation>/<record bytes>/<records>" (bench/containers.cpp,
bench/entities.cpp, bench/mapping.cpp, bench/saved_model.cpp);
each cell is our CPU time per item divided by the peer's, from the fastest repetition of each.

usage: bench_containers --benchmark_repetitions=5 --benchmark_format=json | bench/ratios.py
"""
import json
import sys

PAIRS = [("otm", "std::set", "Tree (OTM / std::set)"), ("olm", "std::list", "List (OLM / std::list)"),
         ("ours", "sqlite", "Disk-backed model / SQLite"),
         ("memory", "vector", "Memory-only model / std::vector"),
         ("engine", "hand", "Mapping engine / hand-written loop"),
         ("text", "sqlite", "Saved model, text form / SQLite"),
         ("binary", "sqlite", "Saved model, binary form / SQLite")]


def main():
    data = json.load(open(sys.argv[1]) if len(sys.argv) > 1 else sys.stdin)
    best = {}  # (container, operation, bytes, records) -> fastest ns per item
    for b in data["benchmarks"]:
        if b.get("run_type", "iteration") != "iteration" or "items_per_second" not in b:
            continue
        parts = [p for p in b.get("run_name", b["name"]).split("/")
                 if not p.startswith("iterations:") and p != "real_time"]
        if len(parts) != 4:
            continue
        key = (parts[0], parts[1], int(parts[2]), int(parts[3]))
        ns = 1e9 / b["items_per_second"]
        best[key] = min(ns, best.get(key, ns))
    sizes = sorted({k[3] for k in best})
    for ours, peer, title in PAIRS:
        ops = []
        for k in best:
            if k[0] == ours and (k[1], k[2]) not in ops:
                ops.append((k[1], k[2]))
        if not ops:
            continue
        print(f"| {title} | " + " | ".join(f"{n:,}" for n in sizes) + " |")
        print("|---|" + "---:|" * len(sizes))
        for op, size in ops:
            cells = []
            for n in sizes:
                a, p = best.get((ours, op, size, n)), best.get((peer, op, size, n))
                cells.append(f"{a / p:.2f} ({a:.1f} / {p:.1f} ns)" if a and p else "")
            print(f"| {op}, {size} B | " + " | ".join(cells) + " |")
        print()


if __name__ == "__main__":
    main()
