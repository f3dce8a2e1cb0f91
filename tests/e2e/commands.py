"""Running the build machine's tools from the tests: the one `run`, the
commit time of the sources, a file's bytes."""

import os
import subprocess


def run(*command, check=True, **kwargs):
    """Runs `command` with its output captured as text; when it fails and
    `check` is true, fails the test with the command and its output."""
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if check and result.returncode != 0:
        raise AssertionError(f"{' '.join(command)} failed:\n{result.stdout}{result.stderr}")
    return result


def git(source, *args):
    """The output of git in `source` when it is a checkout of its own, else
    None."""
    try:
        top = run("git", "-C", source, "rev-parse", "--show-toplevel").stdout.strip()
        if os.path.realpath(top) != os.path.realpath(source):
            return None
        return run("git", "-C", source, *args).stdout
    except (AssertionError, OSError):
        return None


def read(path):
    with open(path, "rb") as f:
        return f.read()
