#!/usr/bin/env python3
"""Summarises a velmor-sink --delay-log over a run with a disturbance.

    delays.py LOG FROM START END TO [--soak]

Times are the log's (wall clock, 100 ns units). "before" is [FROM, START), "during" [START, END),
"after" [END + 1 s, TO). Prints a Markdown table: the delay of video and audio behind the
source's send time (median and 99th percentile), the largest gap between output frames, the
source's frames never seen and the share of its audio never heard. With --soak the parts are
[FROM, START) "first minute", [END, TO) "last minute" and the whole run."""
import sys


def quantile(values, q):
    if not values:
        return float("nan")
    values = sorted(values)
    return values[min(len(values) - 1, int(q * (len(values) - 1) + 0.5))]


def main():
    path, t_from, start, end, to = sys.argv[1], *map(int, sys.argv[2:6])
    video, audio = [], []
    for line in open(path):
        f = line.split()
        if len(f) != 5:
            continue
        entry = (int(f[2]), int(f[1]), int(f[3]))  # arrival, number, timecode
        (video if f[0] == "V" else audio).append(entry)

    def part(entries, a, b):
        return [e for e in entries if a <= e[0] < b]

    def delays(entries):
        return [(arrival - tc) / 1e4 for arrival, _, tc in entries]

    def gaps(entries):
        return max(((b[0] - a[0]) / 1e4 for a, b in zip(entries, entries[1:])), default=0.0)

    def lost(entries):
        numbers = [n for _, n, _ in entries if n >= 0]
        return sum(max(0, b - a - 1) for a, b in zip(numbers, numbers[1:]))

    def audio_lost(entries):
        if len(entries) < 2:
            return float("nan")
        sent = (entries[-1][2] - entries[0][2]) / 1e7 * 48000
        got = sum(n for _, n, _ in entries[:-1])
        return max(0.0, (sent - got) / sent * 100)

    print("| part | video delay median / p99 (ms) | audio delay median / p99 (ms) "
          "| largest gap (ms) | frames | lost | audio lost |")
    print("|---|---|---|---|---|---|---|")
    parts = (("before", t_from, start), ("during", start, end + 10_000_000),
             ("after", end + 10_000_000, to), ("whole run", t_from, to))
    if "--soak" in sys.argv:
        parts = (("first minute", t_from, start), ("last minute", end, to),
                 ("whole run", t_from, to))
    for name, a, b in parts:
        v, s = part(video, a, b), part(audio, a, b)
        dv, da = delays(v), delays(s)
        print(f"| {name} | {quantile(dv, 0.5):.1f} / {quantile(dv, 0.99):.1f} "
              f"| {quantile(da, 0.5):.1f} / {quantile(da, 0.99):.1f} | {gaps(v):.1f} "
              f"| {len(v)} | {lost(v)} | {audio_lost(s):.2f} % |")


if __name__ == "__main__":
    main()
