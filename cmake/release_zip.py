"""Writes the release ZIP and its SHA256SUMS so that the same files give the
same bytes on every machine: entries in name order below one top directory,
every entry dated SOURCE_DATE_EPOCH (in UTC), fixed permissions, no owner,
no extra fields. Run by cmake/package-finish.cmake inside CPack.

    release_zip.py --staging DIR --zip OUT.zip --epoch SECONDS --program NAME
                   --sums SHA256SUMS

SHA256SUMS names the ZIP by its file name and the program by its path in the
ZIP, so that the one file checks both the download and what it unpacks to.
"""

import argparse
import hashlib
import os
import time
import zipfile

# The earliest time a ZIP entry can hold.
ZIP_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC


def entry(name, epoch, executable):
    info = zipfile.ZipInfo(name, time.gmtime(max(epoch, ZIP_EPOCH))[:6])
    info.create_system = 3  # Unix: the permissions below are read
    info.external_attr = (0o100755 if executable else 0o100644) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    parser = argparse.ArgumentParser()
    for option in ("--staging", "--zip", "--epoch", "--program", "--sums"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    top = os.path.basename(os.path.normpath(args.staging))
    files = []
    for directory, _, names in os.walk(args.staging):
        for name in names:
            path = os.path.join(directory, name)
            files.append(os.path.relpath(path, args.staging).replace(os.sep, "/"))
    files.sort()

    partial = args.zip + ".part"
    with zipfile.ZipFile(partial, "w") as package:
        for name in files:
            with open(os.path.join(args.staging, name), "rb") as f:
                data = f.read()
            package.writestr(entry(f"{top}/{name}", int(args.epoch), name.endswith(".exe")),
                             data, compresslevel=9)
    os.replace(partial, args.zip)

    # The format sha256sum -c reads.
    with open(args.sums, "w", encoding="ascii", newline="\n") as f:
        f.write(f"{sha256(args.zip)}  {os.path.basename(args.zip)}\n")
        f.write(f"{sha256(os.path.join(args.staging, args.program))}  {top}/{args.program}\n")


if __name__ == "__main__":
    main()
