#!/usr/bin/env python3
"""Runs the entity-store benchmark (bench/entities.cpp) and prints the tables of docs/performance.md.

Every job runs in a fresh process pinned to one core, the sides taking turns; each cell takes the
fastest of the repetitions (wall-clock and processor time alike) and the largest peak resident
memory. TESMAR_BENCH_SMOKE=1 runs N = 1000 once, as the test suite does.

usage: bench/entities.py BENCH_ENTITIES [--sizes N,N,...] [--repetitions R] [--cpu C]
                        [--buffers B] [--stores S,S,...]
"""
import argparse
import json
import os
import subprocess
import sys

# (ours, peer, title, operations)
PAIRS = [("ours", "sqlite", "Disk-backed model / SQLite", ["create", "read"]),
         ("ours", "sqlite-autocommit", "Disk-backed model / SQLite, each read its own transaction",
          ["read"]),
         ("memory", "vector", "Memory-only model / std::vector", ["create", "read"])]


def run(binary, store, op, n, cpu, buffers):
    pin = (lambda: os.sched_setaffinity(0, {cpu})) if cpu is not None else None
    extra = [str(buffers)] if buffers else []
    out = subprocess.run([binary, "--job", store, op, str(n)] + extra, capture_output=True, text=True,
                         check=False, preexec_fn=pin)
    if out.returncode != 0:
        sys.exit(f"{binary} --job {store} {op} {n} failed ({out.returncode}): {out.stderr.strip()}")
    return json.loads(out.stdout)


def cell(best, store, op, n, measure):
    """Nanoseconds per entity of a job, or None when it was not run."""
    b = best.get((store, op, n))
    return b[measure] / n if b else None


def main():
    smoke = os.environ.get("TESMAR_BENCH_SMOKE") == "1"
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("--sizes", default="1000" if smoke else "10000,100000,1000000,3000000")
    parser.add_argument("--repetitions", type=int, default=1 if smoke else 3)
    parser.add_argument("--cpu", type=int, default=None, help="the core to pin jobs to")
    parser.add_argument("--buffers", type=int, default=0,
                        help="page buffers of the disk-backed model (default: the benchmark's 256)")
    parser.add_argument("--stores", default=None, help="only these stores, comma-separated")
    args = parser.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    cpu = args.cpu
    if cpu is None and hasattr(os, "sched_getaffinity"):
        cpu = max(os.sched_getaffinity(0))
    jobs = []
    for ours, peer, _, ops in PAIRS:
        for op in ops:
            for store in (ours, peer):
                if (store, op) not in jobs:
                    jobs.append((store, op))
    best = {}  # (store, op, n) -> {"wall": ns, "cpu": ns, "rss": kB, "before": kB}
    for n in sizes:
        for _ in range(args.repetitions):
            for store, op in jobs:
                if args.stores and store not in args.stores.split(","):
                    continue
                r = run(args.binary, store, op, n, cpu, args.buffers)
                b = best.setdefault((store, op, n), {"wall": r["wall_ns"], "cpu": r["cpu_ns"],
                                                     "rss": 0, "before": r["rss_before_kb"]})
                b["wall"] = min(b["wall"], r["wall_ns"])
                b["cpu"] = min(b["cpu"], r["cpu_ns"])
                b["rss"] = max(b["rss"], r["peak_rss_kb"])
    for measure, heading in (("wall", "wall-clock time per entity"), ("cpu", "processor time per entity")):
        print(f"Fastest {heading}, library / peer:\n")
        for ours, peer, title, ops in PAIRS:
            if not any(s in (ours, peer) for s, _, _ in best):
                continue
            print(f"| {title} | " + " | ".join(f"{n:,}" for n in sizes) + " |")
            print("|---|" + "---:|" * len(sizes))
            for op in ops:
                cells = []
                for n in sizes:
                    a, p = cell(best, ours, op, n, measure), cell(best, peer, op, n, measure)
                    cells.append(f"{a / p:.2f} ({a:.1f} / {p:.1f} ns)" if a and p else
                                 f"{a or p or 0:.1f} ns")
                print(f"| {op}, 64 B | " + " | ".join(cells) + " |")
            print()
    before = min(b["before"] for b in best.values())
    print(f"Peak resident memory of the process, MB (library / peer; before the job: {before / 1024:.1f} MB):\n")
    stores = [("ours", "sqlite"), ("memory", "vector")]
    print("| job | " + " | ".join(f"{n:,}" for n in sizes) + " |")
    print("|---|" + "---:|" * len(sizes))
    for ours, peer in stores:
        for op in ("create", "read"):
            if not any((s, op) == (st, o) for st, o, _ in best for s in (ours, peer)):
                continue
            cells = [" / ".join(f"{best[(s, op, n)]['rss'] / 1024:.1f}" if (s, op, n) in best else "-"
                                for s in (ours, peer)) for n in sizes]
            print(f"| {ours} / {peer}, {op} | " + " | ".join(cells) + " |")
    print()


if __name__ == "__main__":
    main()
