#!/usr/bin/env python3
"""Writes the CSV file of the reading benchmark (docs/performance.md, "Reading CSV"): an
identifier, eight continuous columns with about twelve significant digits and a target of three
categories, one record per line. The same arguments always give the same file.

    bench/make_csv.py ROWS OUT.csv
"""
import random
import sys


def main():
    rows = int(sys.argv[1])
    out = sys.argv[2]
    rng = random.Random(20240601)
    scales = [1.0, 10.0, 100.0, 0.01, 1.0, 1000.0, 0.1, 10.0]
    with open(out, "w", newline="") as f:
        f.write("id," + ",".join(f"x{i + 1}" for i in range(8)) + ",y\n")
        lines = []
        for r in range(rows):
            values = [rng.uniform(-1.0, 1.0) * s for s in scales]
            label = "abc"[int(abs(values[0]) * 3) % 3]
            lines.append(f"{r + 1}," + ",".join(f"{v:.12g}" for v in values) + f",{label}\n")
            if len(lines) == 10000:
                f.writelines(lines)
                lines.clear()
        f.writelines(lines)


if __name__ == "__main__":
    main()
