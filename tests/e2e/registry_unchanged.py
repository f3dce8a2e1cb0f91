"""Runs a command under Wine in an existing prefix and fails when it left
the registry other than it found it: the whole registry as 32-bit programs
see it and, in a 64-bit prefix, the whole software hive as 64-bit programs
see it. The command's output passes through; its exit status is kept.

    registry_unchanged.py --prefix DIR [--arch win64] [--snapshot registry_snapshot.exe]
                          -- COMMAND...
"""

import argparse
import subprocess
import sys

sys.dont_write_bytecode = True  # no cache files in the source tree
from wine_prefix import SNAPSHOT_EXE, WinePrefix  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--arch", choices=["win32", "win64"], default="win32")
    parser.add_argument("--snapshot", default=SNAPSHOT_EXE)
    parser.add_argument("command", nargs="+")
    args = parser.parse_args()

    wine = WinePrefix(args.prefix, args.arch, args.snapshot)
    wine.start()  # the services' own writes come before the first snapshot
    before = wine.export_registry()
    status = subprocess.run(args.command, env=wine.env).returncode
    differences = before.differences(wine.export_registry())
    if differences:
        print("The run left the registry changed:", *differences, sep="\n    ")
        return 1
    print(f"Registry unchanged ({len(before.keys)} keys compared).")
    return status


if __name__ == "__main__":
    sys.exit(main())
