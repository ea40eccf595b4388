#!/usr/bin/env python3
"""Checks the Windows executables of a build tree: the right PE machine type, and imports of
system DLLs only (no mingw runtime, no zlib DLL), so they run on a bare Windows.

  check_executables.py --tree DIR --machine i386|x86-64 EXE...   (EXE relative to DIR)
"""
import argparse
import re
import subprocess
import sys

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "wininet.dll", "urlmon.dll",
    "ws2_32.dll", "wsock32.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll",
    "comctl32.dll", "msvcrt.dll", "atl.dll", "version.dll", "uxtheme.dll", "msimg32.dll",
    "bcrypt.dll",  # CNG, for SHA-256 (a part of Windows since Vista)
}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--tree", required=True)
    p.add_argument("--machine", required=True, choices=["i386", "x86-64"])
    p.add_argument("exes", nargs="+")
    a = p.parse_args()
    objdump = "i686-w64-mingw32-objdump" if a.machine == "i386" else "x86_64-w64-mingw32-objdump"
    failures = 0
    for exe in a.exes:
        path = a.tree.rstrip("/") + "/" + exe
        out = subprocess.run([objdump, "-p", path], capture_output=True, text=True)
        if out.returncode != 0:
            print("FAIL %s: cannot be read (%s)" % (path, out.stderr.strip()))
            failures += 1
            continue
        fmt = re.search(r"file format (\S+)", out.stdout)
        expected = "pei-i386" if a.machine == "i386" else "pei-x86-64"
        dlls = sorted({d.lower() for d in re.findall(r"DLL Name: (\S+)", out.stdout)})
        foreign = [d for d in dlls if d not in SYSTEM_DLLS and not d.startswith("api-ms-win-")]
        if not fmt or fmt.group(1) != expected:
            print("FAIL %s: expected %s, found %s" % (path, expected, fmt.group(1) if fmt else "no PE header"))
            failures += 1
        elif foreign:
            print("FAIL %s: imports non-system DLLs %s" % (path, ", ".join(foreign)))
            failures += 1
        else:
            print("ok   %s: %s, imports %s" % (path, expected, ", ".join(dlls)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
