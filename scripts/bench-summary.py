#!/usr/bin/python3
"""Turns a Google Benchmark JSON report into "bench NAME: VALUE UNIT" lines.

A benchmark that sets the counter "records" reports Mrec/s (and, when set,
its "sustained" rate, "hold_ms", "lost", "overrun", "writers_failed" and
"cpu_pct" and "cpu_us" counters beside it), one that sets "bytes_per_second"
(SetBytesProcessed) reports MB/s, one that sets "messages" reports messages
per second; others report ns per iteration.
"""
import json
import sys


def main(path):
    # An executable whose benchmarks the filter left out writes no report.
    try:
        with open(path, encoding="utf-8") as f:
            report = json.load(f)
    except (OSError, ValueError):
        return
    for b in report.get("benchmarks", []):
        if b.get("run_type") == "aggregate":
            continue
        name = b["name"].replace("/", "_")
        if "records" in b:
            print(f"bench {name}: {b['records'] / 1e6:.2f} Mrec/s")
            if "sustained" in b:
                print(f"bench {name}_sustained: {b['sustained'] / 1e6:.2f} Mrec/s")
            # Figures reported beside a rate: counter name and unit.
            for counter, unit in (("hold_ms", "ms"), ("lost", "records"), ("overrun", "records"),
                                  ("writers_failed", "processes"), ("cpu_pct", "%"),
                                  ("cpu_us", "us/rec")):
                if counter in b:
                    digits = 3 if counter == "cpu_us" else 1
                    print(f"bench {name}_{counter}: {b[counter]:.{digits}f} {unit}")
        elif "messages" in b:
            print(f"bench {name}: {b['messages']:.0f} msg/s")
            if "lost" in b:
                print(f"bench {name}_lost: {b['lost']:.0f} messages")
        elif "bytes_per_second" in b:
            print(f"bench {name}: {b['bytes_per_second'] / 1e6:.1f} MB/s")
        else:
            print(f"bench {name}: {b['real_time']:.1f} {b.get('time_unit', 'ns')}")
        # Counters named "*_ms" are durations of their own (a longest stall).
        for key, value in b.items():
            if key.endswith("_ms") and isinstance(value, (int, float)):
                print(f"bench {name}_{key[:-3]}: {value:.1f} ms")


if __name__ == "__main__":
    main(sys.argv[1])
