#!/usr/bin/env python3
"""Compares the two builds' records of the same seeds (fidelity_run).

Every seed must have the same outcome on both: the same hash of the
canonical dump after the run, or skipped on both. For each seed that
differs (the first five in full) it prints the seed, the generator's
description of the registry and both dumps, side by side as a diff.
"""
import argparse
import difflib
import subprocess
import sys


def read(path):
    seeds = {}
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                seed, _, outcome = line.rstrip("\n").partition(" ")
                if seed:
                    seeds[int(seed)] = outcome
    except OSError as e:
        sys.exit(f"cannot read {path}: {e}")
    return seeds


def show(command):
    out = subprocess.run(command, capture_output=True, timeout=300)
    return out.stdout.decode("utf-8", "replace").replace("\r\n", "\n")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--host-results", required=True)
    p.add_argument("--host-exe", required=True)
    p.add_argument("--win32-results", required=True)
    p.add_argument("--win32-exe", required=True)
    p.add_argument("--wine-driver", required=True)
    args = p.parse_args()

    host, win32 = read(args.host_results), read(args.win32_results)
    if set(host) != set(win32):
        sys.exit(f"the builds ran different seeds: {len(host)} on the host, {len(win32)} on Windows")
    differing = [s for s in sorted(host) if host[s] != win32[s]]
    skipped = sum(1 for s in host if host[s].startswith("skipped"))
    print(f"{len(host)} seeds, {skipped} skipped on both, {len(differing)} differ")
    for seed in differing[:5]:
        print(f"=== seed {seed}: host {host[seed]!r}, Windows {win32[seed]!r}")
        a = show([args.host_exe, "--show", str(seed)]).splitlines()
        b = show([args.wine_driver, "run", args.win32_exe, "--show", str(seed)]).splitlines()
        desc = [line for line in a if not line.startswith("HKCR") and not line.startswith("file ")]
        print("\n".join(desc))
        print("\n".join(difflib.unified_diff(a, b, "host", "Windows", lineterm="", n=2)))
    if differing:
        print("differing seeds:", " ".join(map(str, differing[:100])))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
