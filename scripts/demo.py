"""Stages 3 to 5 of the demo (scripts/demo.sh): a throwaway Wine prefix, a
sample filter registered in it, and the program's run with what it left.

    demo.py --exe remove_filter.exe --prefix-script cmake/wine-prefix.sh
"""

import argparse
import os
import sys
import tempfile

sys.dont_write_bytecode = True  # no cache files in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from wine_prefix import (CLSID_ROOT, EXPORTED_CLSID_ROOT, WinePrefix,  # noqa: E402
                         registry_file)

TARGET = "{3A7D52C8-6E19-4B2F-9C04-71E5D8A0B6F3}"
DIRECTORY = "C:\\Program Files\\Sample Filter"
SERVER = DIRECTORY + "\\sample_filter.dll"
NEIGHBOUR = DIRECTORY + "\\readme.txt"


def say(text=""):
    print("   " + text if text else "", flush=True)


def short(path):
    """A registry path as people write it."""
    return path.replace(EXPORTED_CLSID_ROOT, "HKCR\\CLSID").replace(CLSID_ROOT, "HKCR\\CLSID")


def present(flag):
    return "present" if flag else "gone   "


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--prefix-script", required=True)
    args = parser.parse_args()
    exe = os.path.abspath(args.exe)

    print("== 3/5 A throwaway Wine prefix", flush=True)
    workdir = tempfile.mkdtemp(prefix="remove_filter-demo.")
    wine = WinePrefix(os.path.join(workdir, "prefix"), os.path.abspath(args.prefix_script))
    try:
        wine.create()
        wine.start()
        say(f"{wine.path} (32-bit, made fresh; removed at the end)")
        return demo(wine, exe)
    finally:
        wine.stop()
        if os.environ.get("RF_KEEP_PREFIX"):
            print(f"The prefix stays: WINEPREFIX={wine.path}")
        else:
            wine.remove()
            os.rmdir(workdir)


def demo(wine, exe):
    pristine = wine.export_registry()
    managers = pristine.class_managers()
    if not managers:
        print("The demo could not run: the prefix has no filter class manager.")
        return 2
    manager = managers[0]
    instance = f"{CLSID_ROOT}\\{manager}\\Instance"
    real_filters = pristine.sub_keys(f"{EXPORTED_CLSID_ROOT}\\{manager}\\Instance")

    print(f"== 4/5 Registering a sample filter {TARGET}", flush=True)
    entry = f"{instance}\\{TARGET}"
    class_key = f"{CLSID_ROOT}\\{TARGET}"
    keys = {
        entry: {"FriendlyName": "Sample Filter", "CLSID": TARGET,
                "FilterData": b"\x02\0\0\0\0\0\x20\0"},
        class_key: {"": "Sample Filter"},
        class_key + "\\InprocServer32": {"": SERVER, "ThreadingModel": "Both"},
    }
    wine.import_registry(registry_file(keys))
    wine.create_file(SERVER, b"MZ sample filter")
    wine.create_file(NEIGHBOUR, b"beside the server file\r\n")
    before = wine.export_registry()
    say(f"class manager: {short(CLSID_ROOT)}\\{manager}, "
        f"{len(real_filters)} filters of its own below Instance")
    for path, values in keys.items():
        shown = ", ".join(v for v in before.keys.get(exported(path), ()) if "FilterData" not in v)
        say(f"{short(path)}")
        say(f"    {shown}")
    say(f"{SERVER} (and beside it {NEIGHBOUR.rsplit(chr(92), 1)[1]})")

    print("== 5/5 Running remove_filter.exe", flush=True)
    result = wine.run(exe)
    output = result.stdout + result.stderr
    say(f"exit status {result.returncode}, "
        + ("no output" if not output else f"output: {output.decode(errors='replace')!r}"))
    after = wine.export_registry()
    targets = [exported(entry), exported(class_key)]
    gone = {
        short(entry): exported(entry) not in after,
        short(class_key) + " (with InprocServer32)": exported(class_key) not in after,
        SERVER: not wine.file_exists(SERVER),
    }
    for what, is_gone in gone.items():
        say(f"{present(not is_gone)}  {what}")
    left_filters = after.sub_keys(f"{EXPORTED_CLSID_ROOT}\\{manager}\\Instance")
    kept = {
        f"the class manager's {len(real_filters)} own filters":
            set(real_filters) <= set(left_filters),
        NEIGHBOUR: wine.file_exists(NEIGHBOUR),
    }
    for what, is_kept in kept.items():
        say(f"{present(is_kept)}  {what}")
    differences = before.without(*targets).differences(after.without(*targets))
    if differences:
        say("other changes to the registry:")
        for line in differences:
            say("    " + line)
    else:
        say(f"no other change anywhere in the registry ({len(after.keys)} keys compared)")

    removed = all(gone.values())
    intact = all(kept.values()) and not differences
    ok = removed and intact and result.returncode == 0 and not output
    print()
    if ok:
        print("Result: the sample filter was removed; everything else is in place.")
    elif not removed:
        print("Result: the sample filter was NOT removed.")
    else:
        print("Result: the sample filter was removed, but the run did more than it should.")
    return 0 if ok else 1


def exported(path):
    return EXPORTED_CLSID_ROOT + path[len(CLSID_ROOT):]


if __name__ == "__main__":
    sys.exit(main())
