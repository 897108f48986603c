#!/usr/bin/env python3
"""Packs the release: Trayhop-VERSION.zip with both programs, both console
programs, their help files, the Windows user's README.txt and SHA256SUMS.

    package.py --version V --i686-bin DIR --x86_64-bin DIR --out DIR [--date EPOCH]

DIR of i686 holds Trayhop32.exe, Trayhop32Cmd.exe and Trayhop32.chm, that
of x86_64 Trayhop64.exe, Trayhop64Cmd.exe and Trayhop64.chm. The zip is the same bytes for the same
files: fixed member order, one member time (--date, the commit's time;
SOURCE_DATE_EPOCH or 1980-01-01 without it), fixed attributes. README.txt
gets CR LF line ends for Notepad. Prints the zip's path and SHA-256.
"""
import argparse
import hashlib
import os
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
# The order of the members, and of the lines of SHA256SUMS.
PROGRAM_FILES = (("i686", "Trayhop32.exe"), ("i686", "Trayhop32Cmd.exe"),
                 ("i686", "Trayhop32.chm"), ("x86_64", "Trayhop64.exe"),
                 ("x86_64", "Trayhop64Cmd.exe"), ("x86_64", "Trayhop64.chm"))
DOS_EPOCH = 315532800  # 1980-01-01, the earliest time a zip can hold


def readme(version):
    with open(os.path.join(HERE, "README.txt"), encoding="utf-8") as f:
        text = f.read().replace("@VERSION@", version)
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("ascii")


def member(name, when):
    info = zipfile.ZipInfo(name, date_time=time.gmtime(max(when, DOS_EPOCH))[:6])
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 0  # MS-DOS: no Unix owner or mode in the archive
    info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE
    return info


def package(version, bins, out, when):
    contents = [("README.txt", readme(version))]
    for arch, name in PROGRAM_FILES:
        with open(os.path.join(bins[arch], name), "rb") as f:
            contents.append((name, f.read()))
    sums = "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name)
                   for name, data in contents)
    contents.append(("SHA256SUMS", sums.encode("ascii")))

    os.makedirs(out, exist_ok=True)
    path = os.path.join(out, "Trayhop-%s.zip" % version)
    with zipfile.ZipFile(path + ".part", "w") as archive:
        for name, data in contents:
            archive.writestr(member(name, when), data, compresslevel=9)
    os.replace(path + ".part", path)
    return path


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--i686-bin", required=True)
    parser.add_argument("--x86_64-bin", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--date", type=int,
                        default=int(os.environ.get("SOURCE_DATE_EPOCH", DOS_EPOCH)))
    args = parser.parse_args()
    try:
        path = package(args.version, {"i686": args.i686_bin, "x86_64": args.x86_64_bin},
                       args.out, args.date)
    except OSError as error:
        print("package.py: %s" % error, file=sys.stderr)
        return 1
    with open(path, "rb") as f:
        print("%s  %s" % (hashlib.sha256(f.read()).hexdigest(), path))
    return 0


if __name__ == "__main__":
    sys.exit(main())
