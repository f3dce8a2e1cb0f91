"""Stages 3 to 5 of the demo (scripts/demo.sh): a throwaway Wine prefix, a
sample filter installed in it, and its uninstall, which runs the program,
with what it left.

The prefix is a 64-bit one, as most users' machines are: the sample filter's
NSIS installer (--installer, tests/e2e/installers.py) installs its module
and the program below Program Files (x86) and registers the module with
regsvr32 in the 32-bit registry view, where the program looks; a 64-bit
build of it in the 64-bit view beside it must stay. Its uninstaller runs the
program. Before and after the uninstall the demo shows what the media
framework itself finds (the helper --filter-framework): the filters it
lists, whether the sample filter's class is registered and whether it
creates the filter. RF_DEMO_ARCH=win32 makes a 32-bit prefix with the 32-bit
registration only.

    demo.py --installer sample_filter_installer.exe
            --snapshot registry_snapshot.exe --filter-framework filter_framework.exe
"""

import argparse
import os
import sys
import tempfile

sys.dont_write_bytecode = True  # no cache files in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from sample_filter import (CLASS_KEY_PATH, CLSID_ROOT, REGDB_E_CLASSNOTREG,  # noqa: E402
                           TARGET, Framework, FrameworkError, registered_class,
                           registered_entry)
from wine_prefix import EXPORTED_CLSID_ROOT, VIEW64, WinePrefix, registry_file  # noqa: E402
from installers import NSIS, Installed  # noqa: E402

# A 32-bit program is installed below "Program Files (x86)" on 64-bit
# Windows, and its 64-bit build below "Program Files".
DIRECTORY_64 = "C:\\Program Files\\Sample Filter"
SERVER_64 = DIRECTORY_64 + "\\sample_filter.dll"


def say(text=""):
    print("   " + text if text else "", flush=True)


def short(path):
    """A registry path as people write it."""
    return path.replace(EXPORTED_CLSID_ROOT, "HKCR\\CLSID").replace(CLSID_ROOT, "HKCR\\CLSID")


def present(flag):
    return "present" if flag else "gone   "


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--snapshot", required=True)
    parser.add_argument("--filter-framework", required=True)
    parser.add_argument("--installer", required=True)
    args = parser.parse_args()
    framework = Framework(os.path.abspath(args.filter_framework))
    arch = os.environ.get("RF_DEMO_ARCH", "win64")
    if arch not in ("win32", "win64"):
        print(f"The demo could not run: RF_DEMO_ARCH is {arch!r}, not win32 or win64.")
        return 2

    print("== 3/5 A throwaway Wine prefix", flush=True)
    workdir = tempfile.mkdtemp(prefix="remove_filter-demo.")
    wine = WinePrefix(os.path.join(workdir, "prefix"), arch, args.snapshot)
    try:
        wine.create()
        wine.start()
        bits = "64-bit: the program runs under WOW64" if wine.is_64_bit else "32-bit"
        say(f"{wine.path} ({bits}; made fresh, removed at the end)")
        framework.wine = wine
        return demo(wine, framework, Installed(wine, NSIS, os.path.abspath(args.installer)))
    finally:
        wine.remove()
        if not os.path.exists(wine.path):
            os.rmdir(workdir)


class CouldNotRun(Exception):
    """The demo could not do one of its steps; the message says which."""


def describe(seen):
    """What the framework found, in plain words."""
    if seen["listed"]:
        among = ", the sample filter among them; "
    else:
        among = "; the sample filter is not among them, "
    search = "its search by media type " + ("finds it" if seen["matched"] else "does not find it")
    if seen["class"] == REGDB_E_CLASSNOTREG:
        activation = "and its class is not registered"
    elif seen["created"] == 0:
        activation = "and it creates the filter in a filter graph (S_OK)"
    else:
        activation = f"and creating the filter gives 0x{seen['created']:08x}"
    return f"lists {seen['filters']} filters{among}{search}, {activation}"


def demo(wine, framework, installer):
    try:
        return show_removal(wine, framework, installer)
    except (CouldNotRun, FrameworkError) as error:
        print(f"The demo could not run: {error}")
        return 2


def show_removal(wine, framework, installer):
    pristine = wine.export_registry()
    managers = pristine.class_managers()
    if not managers:
        print("The demo could not run: the prefix has no filter class manager.")
        return 2
    manager = managers[0]
    instance = f"{CLSID_ROOT}\\{manager}\\Instance"
    real_filters = pristine.sub_keys(f"{pristine.clsid_root}\\{manager}\\Instance")
    server = installer.module
    neighbour = installer.folder + "\\readme.txt"

    print(f"== 4/5 Installing a sample filter {TARGET} with its NSIS installer", flush=True)
    entry = f"{instance}\\{TARGET}"
    result = installer.install()
    if result.returncode != 0:
        raise CouldNotRun(f"the installer failed with status {result.returncode}")
    keys = [entry, CLASS_KEY_PATH, CLASS_KEY_PATH + "\\InprocServer32"]
    wine.create_file(neighbour, b"beside the server file\r\n")
    keys64 = {}
    if wine.is_64_bit:
        manager64 = pristine.class_managers(VIEW64 + EXPORTED_CLSID_ROOT)[0]
        name64 = "Sample Filter (64-bit)"
        keys64 = {**registered_entry(f"{CLSID_ROOT}\\{manager64}\\Instance\\{TARGET}", name64),
                  **registered_class(SERVER_64, name64)}
        wine.import_registry(registry_file(keys64), view=64)
        wine.create_file(SERVER_64, b"MZ sample filter, 64-bit build", view=64)
    # Each run of the helper changes the registry of its own accord (Wine
    # records a display device for it): both snapshots come after them.
    seen_before = framework.report()
    before = wine.export_registry()
    if not seen_before["listed"] or not seen_before["matched"] or seen_before["created"] != 0:
        raise CouldNotRun(f"the framework does not find the sample filter registered: "
                          f"{describe(seen_before)}")
    view = "the 32-bit view, where the program looks" if wine.is_64_bit else "the registry"
    say(f"in {view}: class manager {short(CLSID_ROOT)}\\{manager}, "
        f"{len(real_filters)} filters of its own below Instance")
    show(wine, before, keys, 32)
    say(f"{installer.folder}: {', '.join(sorted(os.listdir(wine.host_path(installer.folder))))}")
    say(f"the media framework {describe(seen_before)}")
    if keys64:
        say("in the 64-bit view, the same class's 64-bit build (not the program's target):")
        show(wine, before, keys64, 64)
        say(SERVER_64)

    print("== 5/5 Uninstalling it: the uninstaller runs remove_filter.exe", flush=True)
    result = installer.uninstall()
    output = result.stdout + result.stderr
    say(f"the uninstaller's exit status {result.returncode}, "
        + ("no output" if not output else f"output: {output.decode(errors='replace')!r}"))
    after = wine.export_registry()
    seen_after = framework.report()
    targets = wine.names(entry) + wine.names(CLASS_KEY_PATH)
    gone = {
        short(entry): wine.names(entry)[0] not in after,
        short(CLASS_KEY_PATH) + " (with InprocServer32)":
            wine.names(CLASS_KEY_PATH)[0] not in after,
        server: not wine.file_exists(server),
        ", ".join(installer.kind.own_files) + " (the installer's own files)":
            not installer.own_files(),
    }
    for what, is_gone in gone.items():
        say(f"{present(not is_gone)}  {what}")
    unlisted = not seen_after["listed"] and not seen_after["matched"] and \
        seen_after["class"] == REGDB_E_CLASSNOTREG
    say(f"the media framework {describe(seen_after)}")
    left_filters = after.sub_keys(f"{after.clsid_root}\\{manager}\\Instance")
    kept = {
        f"the class manager's {len(real_filters)} own filters":
            set(real_filters) <= set(left_filters),
        neighbour: wine.file_exists(neighbour),
    }
    if keys64:
        kept["the 64-bit build's instance entry and class key (64-bit view), unchanged"] = all(
            before.keys[k] == after.keys.get(k) for path in keys64 for k in wine.names(path, 64))
        kept[SERVER_64 + " (64-bit build), unchanged"] = (
            wine.file_exists(SERVER_64, view=64)
            and wine.file_content(SERVER_64, view=64) == b"MZ sample filter, 64-bit build")
    for what, is_kept in kept.items():
        say(f"{present(is_kept)}  {what}")
    folder = wine.host_path(installer.folder)
    left = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    say(f"{installer.folder}: {', '.join(left) or 'gone'}")
    differences = before.without(*targets).differences(after.without(*targets))
    views = "in either view of the registry" if wine.is_64_bit else "anywhere in the registry"
    if differences:
        say("other changes to the registry:")
        for line in differences:
            say("    " + line)
    else:
        say(f"no other change {views} ({len(after.keys)} keys compared)")

    removed = all(gone.values()) and unlisted
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


def show(wine, registry, paths, view):
    """The keys `paths` with their values; of FilterData its size only."""
    for path in paths:
        name = wine.names(path, view)[0]
        shown = ", ".join(f"'FilterData'=REG_BINARY ({len(v.data)} bytes)"
                          if v.name == "FilterData" else str(v)
                          for v in registry.keys.get(name, ()))
        say(f"{short(path)}")
        say(f"    {shown}")


if __name__ == "__main__":
    sys.exit(main())
