#!/usr/bin/env python3
"""The one driver of Wine for the build, the tests, the demo and the
benchmarks: the environment of every Wine process, a prefix's life and
running a program in it with the crash check.

    wine_driver.py create PREFIX [win32|win64]   a fresh prefix
    wine_driver.py stop PREFIX                   its server stopped
    wine_driver.py remove PREFIX                 stopped and removed (kept with RF_KEEP_PREFIX)
    wine_driver.py run PROGRAM [ARG...]          PROGRAM in WINEPREFIX (the cross build's
                                                 emulator: by default the build tree's prefix)

Every command names the Wine release on the standard error first
("Wine: wine-X.Y ..."), so that every test's output records it.
"""

import os
import shutil
import subprocess
import sys
import tempfile

# What Wine writes when a program crashes; the program may still exit
# with status 0, so the output decides as well.
CRASH_MARK = b"wine: Unhandled"
# Wine's 64-bit loader; `wine` itself runs the 32-bit programs of a prefix.
WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"


def environment(prefix, arch=None, base=None):
    """The environment of every Wine process in `prefix`. Each setting has
    its reason:
    - WINEARCH only where a prefix is made (`arch`): Wine tells a 32-bit
      prefix from a 64-bit one by itself, and refuses to run in one whose
      architecture disagrees with a WINEARCH that is set.
    - TMPDIR unset: Wine 10.0 (Debian 13) crashes at the start of a prefix
      where it is set, to any folder.
    - XDG_RUNTIME_DIR a private folder (mode 0700) in the prefix: Wine 10
      writes an error to every process's standard error without it.
    - HOME a folder of the prefix's own, the XDG folders that hang on it
      unset: Wine writes menus, desktop files and caches there, which go
      with the prefix instead of into the user's home.
    - no debug output, and no offer to install Wine's .NET and HTML
      engines into a new prefix."""
    prefix = os.path.abspath(prefix)
    env = dict(os.environ if base is None else base)
    for name in ("WINEARCH", "TMPDIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"):
        env.pop(name, None)
    if arch:
        env["WINEARCH"] = arch
    env.update(WINEPREFIX=prefix, XDG_RUNTIME_DIR=os.path.join(prefix, ".xdg-runtime"),
               HOME=os.path.join(prefix, ".home"), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    return env


def make_private_folders(env):
    """XDG_RUNTIME_DIR (private to the user: mode 0700) and HOME, which
    Wine expects to be there."""
    os.makedirs(env["XDG_RUNTIME_DIR"], exist_ok=True)
    os.chmod(env["XDG_RUNTIME_DIR"], 0o700)
    os.makedirs(env["HOME"], exist_ok=True)


def version():
    return subprocess.run(["wine", "--version"], stdout=subprocess.PIPE, text=True,
                          check=False).stdout.strip()


def quiet(env):
    return dict(env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)


def stop(prefix):
    """Stops the prefix's server: -k ends it and its processes, -w waits
    until it has gone, so that nothing writes the prefix's registry files
    after this returns (a removal or a new prefix at the same place)."""
    if os.path.isdir(prefix):
        env = environment(prefix)
        subprocess.run(["wineserver", "-k"], **quiet(env))
        subprocess.run(["wineserver", "-w"], **quiet(env))


def remove(prefix):
    """Stops the prefix and removes it, unless RF_KEEP_PREFIX is set: then
    it stays for a look, and one line says where."""
    stop(prefix)
    if os.environ.get("RF_KEEP_PREFIX"):
        print(f"The prefix stays (RF_KEEP_PREFIX): WINEPREFIX={os.path.abspath(prefix)}",
              file=sys.stderr)
        return
    shutil.rmtree(prefix, ignore_errors=True)


def create(prefix, arch="win32"):
    """A fresh prefix of `arch` at `prefix` (whatever was there is stopped
    and removed first), its registry written out to disk before returning."""
    stop(prefix)
    shutil.rmtree(prefix, ignore_errors=True)
    env = environment(prefix, arch)
    make_private_folders(env)
    print(f"Wine: {version()}, {arch} prefix {os.path.abspath(prefix)}", file=sys.stderr)
    subprocess.run(["wineboot", "-i"], check=True, **quiet(env))
    subprocess.run(["wineserver", "-w"], check=True, **quiet(env))


def crashed(stderr):
    """Whether a program's standard error says that it crashed under Wine."""
    return CRASH_MARK in stderr


def run(prefix, program, *args, timeout=None, view=32, env=None, cwd=None):
    """Runs a program (a Windows command or a host path of a .exe) as its
    own process in `prefix`, a Windows command in its 64-bit build when
    `view` is 64, in the host folder `cwd` when given (Wine makes a folder
    of a drive its current folder); returns the CompletedProcess with
    stdout and stderr as bytes. The output goes through files, not pipes, so that nothing the
    process may leave running (Wine's services) can hold up the wait."""
    env = env or environment(prefix)
    make_private_folders(env)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        loader = WINE64 if view == 64 else "wine"
        result = subprocess.run([loader, program, *args], env=env, timeout=timeout, cwd=cwd,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        out.seek(0)
        err.seek(0)
        result.stdout, result.stderr = out.read(), err.read()
    return result


def build_tree_prefix():
    """The prefix of the build tree that holds the working directory (the
    test fixtures' `wineprefix`), where WINEPREFIX names none."""
    folder = os.getcwd()
    while folder != "/" and not os.path.exists(os.path.join(folder, "CMakeCache.txt")):
        folder = os.path.dirname(folder)
    return os.path.join(folder, "wineprefix")


def run_command(program, args):
    """The emulator: runs the program with the caller's input and output,
    fails (status 1 at least) when Wine says that it crashed."""
    prefix = os.environ.get("WINEPREFIX") or build_tree_prefix()
    env = environment(prefix)
    make_private_folders(env)
    print(f"Wine: {version()}", file=sys.stderr, flush=True)
    with tempfile.TemporaryFile() as err:
        status = subprocess.run(["wine", program, *args], env=env, stderr=err).returncode
        err.seek(0)
        text = err.read()
    sys.stderr.buffer.write(text)
    sys.stderr.flush()
    if crashed(text) and status == 0:
        print("wine_driver: the program crashed under Wine", file=sys.stderr)
        return 1
    return status


def main(argv):
    if len(argv) < 2 or argv[0] not in ("create", "stop", "remove", "run"):
        sys.exit(__doc__)
    command, target, rest = argv[0], argv[1], argv[2:]
    if command == "run":
        return run_command(target, rest)
    if command == "create":
        create(target, rest[0] if rest else "win32")
    elif command == "stop":
        stop(target)
    else:
        remove(target)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
