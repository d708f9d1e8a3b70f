#!/usr/bin/env python3
"""Turns the JSON output of quorlina_bench into the Markdown table of
docs/performance.md: one row per family and operation, the sizes side by
side, and the growth of the time per call from the smallest to the largest
size. With repetitions, the median of each benchmark is shown."""
import json
import sys


def human_bytes(n):
    for unit in ("B", "KiB", "MiB", "GiB"):
        if abs(n) < 1024 or unit == "GiB":
            return f"{n:.0f} {unit}" if unit == "B" else f"{n:.1f} {unit}"
        n /= 1024.0


def main(path):
    with open(path) as f:
        data = json.load(f)
    rows = {}
    sizes = []
    benchmarks = data["benchmarks"]
    # With repetitions, the medians stand for each benchmark.
    if any(b.get("aggregate_name") == "median" for b in benchmarks):
        benchmarks = [b for b in benchmarks if b.get("aggregate_name") == "median"]
    for b in benchmarks:
        if b.get("error_occurred"):
            continue
        family, op, n = b["run_name"].split("/")[:3]
        n = int(n)
        if n not in sizes:
            sizes.append(n)
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        rows.setdefault((family, op), {})[n] = {
            "ms": b["real_time"] * scale,
            "floor": b.get("floor_ms", 0.0),
            "x": b.get("x_floor", 0.0),
            "heap": b.get("heap_peak"),
            "json": b.get("json"),
            "budget": b.get("heap_budget"),
        }
    sizes.sort()
    ctx = data.get("context", {})
    load = ctx.get("load_avg")
    print(f"Run {ctx.get('date', '?')} on {ctx.get('num_cpus', '?')} CPUs"
          + (f", load average at start {', '.join(f'{x:.2f}' for x in load)}" if load else ""))
    print()
    head = "| family | operation |"
    rule = "|---|---|"
    for n in sizes:
        head += f" N={n:,}: time | floor | x floor | peak heap |"
        rule += "---:|---:|---:|---:|"
    if len(sizes) > 1:
        head += f" time {sizes[-1] // sizes[0]}x N |"
        rule += "---:|"
    print(head)
    print(rule)
    for (family, op), by_n in rows.items():
        line = f"| {family} | {op} |"
        for n in sizes:
            r = by_n.get(n)
            if r is None:
                line += " - | - | - | - |"
                continue
            heap = human_bytes(r["heap"]) if r["heap"] is not None else "-"
            if r["budget"] is not None:
                heap += f" ({r['budget']:.2f} of budget)"
            line += f" {r['ms']:.3f} ms | {r['floor']:.3f} ms | {r['x']:.2f} | {heap} |"
        if len(sizes) > 1 and sizes[0] in by_n and sizes[-1] in by_n and by_n[sizes[0]]["ms"] > 0:
            line += f" {by_n[sizes[-1]]['ms'] / by_n[sizes[0]]['ms']:.1f}x |"
        print(line)
    print()
    print("JSON sizes:", ", ".join(
        f"{f}/{o} N={n:,}: {human_bytes(r['json'])}"
        for (f, o), by_n in rows.items() for n, r in sorted(by_n.items()) if r.get("json")))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "build/release/bench-results.json")
