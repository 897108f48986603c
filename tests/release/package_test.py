#!/usr/bin/env python3
"""The release package holds exactly what a Windows user is promised, with
checksums that match, and packing the same files twice gives the same zip.
Every exit code of the console programs is documented in its README.txt.

    package_test.py PACKAGE.py I686_BIN X86_64_BIN WORKDIR
"""
import hashlib
import os
import subprocess
import sys
import zipfile

package, i686_bin, x86_64_bin, work = sys.argv[1:5]
version = "9.8.7.6"
date = 1700000000  # 2023-11-14 22:13:20 UTC
failures = []


def pack(out):
    subprocess.run([sys.executable, package, "--version", version, "--i686-bin", i686_bin,
                    "--x86_64-bin", x86_64_bin, "--out", out, "--date", str(date)], check=True)
    with open(os.path.join(out, "Trayhop-%s.zip" % version), "rb") as f:
        return f.read()


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


first = pack(os.path.join(work, "first"))
check(pack(os.path.join(work, "second")) == first, "packing twice gives the same bytes")

with zipfile.ZipFile(os.path.join(work, "first", "Trayhop-%s.zip" % version)) as archive:
    names = archive.namelist()
    check(names == ["README.txt", "Trayhop32.exe", "Trayhop32Cmd.exe", "Trayhop32.chm",
                    "Trayhop64.exe", "Trayhop64Cmd.exe", "Trayhop64.chm", "SHA256SUMS"],
          "members, in order: %s" % " ".join(names))
    check(archive.testzip() is None, "every member reads back")
    check({info.date_time for info in archive.infolist()} == {(2023, 11, 14, 22, 13, 20)},
          "every member carries the given date")
    data = {name: archive.read(name) for name in names}

for name, folder in (("Trayhop32.exe", i686_bin), ("Trayhop32Cmd.exe", i686_bin),
                     ("Trayhop32.chm", i686_bin), ("Trayhop64.exe", x86_64_bin),
                     ("Trayhop64Cmd.exe", x86_64_bin), ("Trayhop64.chm", x86_64_bin)):
    with open(os.path.join(folder, name), "rb") as f:
        check(data.get(name) == f.read(), "%s is the built file" % name)

expected = "".join("%s  %s\n" % (hashlib.sha256(data[name]).hexdigest(), name)
                   for name in names if name != "SHA256SUMS")
check(data.get("SHA256SUMS", b"").decode() == expected, "SHA256SUMS matches the seven other files")

readme = data.get("README.txt", b"")
check(readme.count(b"\n") > 0 and readme.count(b"\n") == readme.count(b"\r\n"),
      "README.txt has CR LF line ends")
for text in (version, "Trayhop32.exe", "Trayhop64.exe", "32-bit Windows", "64-bit Windows",
             "administrator rights", r"HKEY_CURRENT_USER\Software\Quenwell\Trayhop32\1.3",
             "Trayhop32Cmd.exe", "Trayhop64Cmd.exe", "--wait SECONDS", "if errorlevel"):
    check(text.encode() in readme, "README.txt tells %r" % text)

for code in range(9):
    check(("\r\n  %d  " % code).encode() in readme, "README.txt documents exit code %d" % code)

sys.exit(1 if failures else 0)
