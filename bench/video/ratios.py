#!/usr/bin/env python3
"""Prints a Markdown table of each benchmark's time as a ratio to memcpy of the same frame
(same pixel layout and size, same run) from Google Benchmark JSON on stdin."""
import json
import re
import sys

runs = json.load(sys.stdin)["benchmarks"]
pattern = re.compile(r"BM_(\w+)<k(\w+)>/(\d+)/(\d+)(?:/(\d+))?")
memcpy = {}
rows = []
# With --benchmark_repetitions the medians are used; a single run is used as it is.
have_medians = any(b.get("aggregate_name") == "median" for b in runs)
for b in runs:
    if have_medians and b.get("aggregate_name") != "median":
        continue
    m = pattern.fullmatch(b.get("run_name", b["name"]))
    if not m or b.get("error_occurred"):
        continue
    name, layout, w, h, extra = m.groups()
    # CPU time: on a shared machine the wall time also counts time spent descheduled.
    us = b["cpu_time"] if b["time_unit"] == "us" else b["cpu_time"] / 1000.0
    if name == "memcpy":
        memcpy[(layout, w, h)] = us
    else:
        if name == "Render" and extra == "1":
            name = "Render (waveform)"
        if name == "ProcAmp" and extra:
            name = "ProcAmp (" + {"2": "avx2", "3": "avx512"}.get(extra, extra) + ")"
        if name == "QuarterTurn":
            name = "QuarterTurn (Rotate 90)" if extra == "1" else "QuarterTurn (Rotate -90)"
        rows.append((name, layout, w, h, us))

print("| function | pixels | frame | CPU time (us) | memcpy (us) | ratio to memcpy |")
print("|---|---|---|---:|---:|---:|")
for name, layout, w, h, us in rows:
    ref = memcpy.get((layout, w, h))
    ratio = f"{us / ref:.2f}" if ref else "-"
    ref_text = f"{ref:.0f}" if ref else "-"
    print(f"| {name} | {layout} | {w}x{h} | {us:.0f} | {ref_text} | {ratio} |")
