"""The run under concurrent change, under Wine: churn.exe runs the real
program RUNS times while it changes keys and values in and beside the
filter's two trees, checks each run (bounded in time, exit status 0,
nothing it made beside the trees lost or changed) and, after a final quiet
run, that both trees are gone. This driver also compares the prefix's
whole registry before and after: outside the helper's own keys nothing may
differ.

    churn_test.py --exe remove_filter.exe --churn churn.exe --prefix DIR
                  [--runs 200] [--seed N]
"""

import argparse
import sys
import time

sys.dont_write_bytecode = True  # no cache files in the source tree
from sample_filter import TARGET
from wine_prefix import EXPORTED_CLSID_ROOT, WinePrefix, windows_path, wine_driver
HELPER_KEYS = ("{00000000-0000-0000-0000-0000000C4A01}", "{00000000-0000-0000-0000-0000000C4A02}")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--exe", required=True)
    p.add_argument("--churn", required=True)
    p.add_argument("--prefix", required=True)
    p.add_argument("--runs", type=int, default=200)
    p.add_argument("--seed", type=int, default=int(time.time()) % 100000)
    args = p.parse_args()

    wine = WinePrefix(args.prefix)
    wine.create()
    wine.start()
    try:
        before = wine.export_registry()
        start = time.monotonic()
        result = wine.run(args.churn, windows_path(args.exe), str(args.runs), str(args.seed),
                          timeout=30 * (args.runs + 1))
        elapsed = time.monotonic() - start
        out = result.stdout.decode("utf-8", "replace")
        print(out, end="")
        print(f"seed {args.seed}: {args.runs} runs in {elapsed:.1f} s")
        after = wine.export_registry()
        gone = [f"{EXPORTED_CLSID_ROOT}\\{k}" for k in HELPER_KEYS + (TARGET,)]
        lines = before.without(*gone).differences(after.without(*gone))
        for line in lines:
            print("outside the helper's keys:", line)
        if result.returncode != 0 or lines or wine_driver.crashed(result.stderr):
            print(result.stderr.decode("utf-8", "replace")[-2000:])
            return 1
        return 0
    finally:
        wine.remove()


if __name__ == "__main__":
    sys.exit(main())
