#!/usr/bin/env python3
"""Turns the JSON output of quorlina_bench into the Markdown tables of
docs/performance.md.

    python3 bench/report.py RESULTS.json [MORE.json ...]

With one file: one row per family and operation, the sizes side by side,
and the growth of the time per call from the smallest to the largest size,
then the site-wide list against the peers. With repetitions, the median of
each benchmark is shown. With several files (separate runs, warm and/or
cold, told apart by the run's page_cache context), one more table gives
each list's ratio to its floor in every run, warm and cold side by side,
and the time per item of each list at each size."""
import json
import sys


def human_bytes(n):
    for unit in ("B", "KiB", "MiB", "GiB"):
        if abs(n) < 1024 or unit == "GiB":
            return f"{n:.0f} {unit}" if unit == "B" else f"{n:.1f} {unit}"
        n /= 1024.0


def load(path):
    with open(path) as f:
        data = json.load(f)
    benchmarks = data["benchmarks"]
    # With repetitions, the medians stand for each benchmark.
    if any(b.get("aggregate_name") == "median" for b in benchmarks):
        benchmarks = [b for b in benchmarks if b.get("aggregate_name") == "median"]
    rows = {}
    for b in benchmarks:
        if b.get("error_occurred"):
            continue
        family, op, n = b["run_name"].split("/")[:3]
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        r = dict(b)
        r["ms"] = b["real_time"] * scale
        rows.setdefault((family, op), {})[int(n)] = r
    ctx = data.get("context", {})
    return {"rows": rows, "ctx": ctx, "mode": ctx.get("page_cache", "warm"), "path": path}


def header(run):
    ctx = run["ctx"]
    load_avg = ctx.get("load_avg")
    return (f"{run['mode']} page cache, run {ctx.get('date', '?')} on {ctx.get('num_cpus', '?')} CPUs"
            + (f", load average at start {', '.join(f'{x:.2f}' for x in load_avg)}" if load_avg else ""))


def operations_table(run):
    rows = {k: v for k, v in run["rows"].items() if k[0] != "site"}
    sizes = sorted({n for by_n in rows.values() for n in by_n})
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
            heap = human_bytes(r["heap_peak"]) if "heap_peak" in r else "-"
            if "heap_budget" in r:
                heap += f" ({r['heap_budget']:.2f} of budget)"
            line += f" {r['ms']:.3f} ms | {r.get('floor_ms', 0):.3f} ms | {r.get('x_floor', 0):.2f} | {heap} |"
        if len(sizes) > 1 and sizes[0] in by_n and sizes[-1] in by_n and by_n[sizes[0]]["ms"] > 0:
            line += f" {by_n[sizes[-1]]['ms'] / by_n[sizes[0]]['ms']:.1f}x |"
        print(line)
    print()
    jsons = [f"{f}/{o} N={n:,}: {human_bytes(r['json'])}" for (f, o), by_n in rows.items()
             for n, r in sorted(by_n.items()) if r.get("json")]
    if jsons:
        print("JSON sizes:", ", ".join(jsons))
        print()


def peers_table(run):
    site = run["rows"].get(("site", "list-all"))
    if not site:
        return
    print("| all three lists | library | floor | x floor | hugo list all | x floor | tomllib script | x floor |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for n, r in sorted(site.items()):
        def peer(name):
            if f"{name}_ms" not in r:
                return " - | - |"
            return f" {r[name + '_ms']:.0f} ms | {r['x_' + name]:.2f} |"
        print(f"| N={n:,}, {run['mode']} | {r['ms']:.0f} ms | {r['floor_ms']:.0f} ms | {r['x_floor']:.2f} |"
              + peer("hugo") + peer("python"))
    print()


def runs_table(runs):
    """Each list's ratio to its floor in every run, warm and cold, and its
    time per item at each size (from the warm runs)."""
    ops = [("snippet", "list"), ("post", "list"), ("note", "list"), ("post", "read"), ("note", "read"),
           ("post", "update"), ("note", "update"), ("snippet", "read"), ("snippet", "update")]
    sizes = sorted({n for run in runs for by_n in run["rows"].values() for n in by_n})
    for n in sizes:
        cols = [(i, run) for i, run in enumerate(runs) if any(n in by_n for by_n in run["rows"].values())]
        if not cols:
            continue
        print(f"| N={n:,}: x floor | " + " | ".join(f"run {i + 1} ({run['mode']})" for i, run in cols) + " |")
        print("|---|" + "---:|" * len(cols))
        for key in ops:
            cells = []
            for _, run in cols:
                r = run["rows"].get(key, {}).get(n)
                cells.append(f"{r['x_floor']:.2f}" if r else "-")
            if any(c != "-" for c in cells):
                print(f"| {key[0]} {key[1]} | " + " | ".join(cells) + " |")
        print()
    warm = [run for run in runs if run["mode"] == "warm"]
    if len({n for run in warm for by_n in run["rows"].values() for n in by_n}) > 1:
        print("| time per item (warm) | " + " | ".join(f"N={n:,}" for n in sizes) + f" | N={sizes[-1]:,} / N={sizes[0]:,} |")
        print("|---|" + "---:|" * (len(sizes) + 1))
        for key in ops[:3]:
            for i, run in enumerate(warm):
                by_n = run["rows"].get(key, {})
                if not by_n:
                    continue
                per = {n: by_n[n]["ms"] * 1e3 / n for n in sizes if n in by_n}
                cells = [f"{per[n]:.2f} µs" if n in per else "-" for n in sizes]
                growth = f"{per[sizes[-1]] / per[sizes[0]]:.2f}" if sizes[0] in per and sizes[-1] in per else "-"
                print(f"| {key[0]} {key[1]}, run {i + 1} | " + " | ".join(cells) + f" | {growth} |")
        print()


def main(paths):
    runs = [load(p) for p in paths]
    for run in runs:
        print(f"{run['path']}: {header(run)}")
        print()
        operations_table(run)
        peers_table(run)
    if len(runs) > 1:
        runs_table(runs)


if __name__ == "__main__":
    main(sys.argv[1:] or ["build/release/bench-results.json"])
