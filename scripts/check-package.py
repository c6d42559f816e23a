#!/usr/bin/env python3
"""Checks a release zip made by scripts/package.sh: exactly the expected files under one
folder, a SHA-256 list that matches them, two 64-bit Windows programs that import nothing but
Windows' own DLLs (so they are static: no mingw runtime DLL beside them), each with a version
resource and an application manifest that asks for asInvoker and names Windows 10/11."""

import hashlib
import os
import re
import subprocess
import sys
import tempfile
import zipfile

PROGRAMS = ["quarvel-sandbox-windows.exe", "quarvel-sandbox-selftest.exe"]
DOCUMENTS = ["README.md", "docs/host-protocol.md", "docs/security-model.md",
             "docs/cost-model.md", "docs/self-test.md", "examples/host_example.py"]
# DLLs every Windows 10/11 has in System32.
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll", "shell32.dll", "userenv.dll",
               "bcrypt.dll", "crypt32.dll", "netapi32.dll", "ole32.dll", "oleaut32.dll",
               "ws2_32.dll", "msvcrt.dll"}
WINDOWS_10_11 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"


def imports_of(path):
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", path], capture_output=True,
                          text=True, check=True).stdout
    if "file format pei-x86-64" not in dump:
        raise ValueError(f"{path} is not a 64-bit Windows program")
    return {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}


def resources_of(path):
    return subprocess.run(["x86_64-w64-mingw32-windres", "--input-format=coff",
                           "--output-format=rc", "-i", path], capture_output=True, text=True,
                          errors="replace", check=True).stdout


def check(zip_path):
    problems = []
    with zipfile.ZipFile(zip_path) as archive:
        names = archive.namelist()
        folders = {name.split("/", 1)[0] for name in names}
        if len(folders) != 1:
            return [f"expected one top folder, found {sorted(folders)}"]
        folder = folders.pop()
        expected = sorted(f"{folder}/{name}" for name in PROGRAMS + DOCUMENTS + ["SHA256SUMS"])
        if sorted(names) != expected:
            problems.append(f"files {sorted(names)}, expected {expected}")
        listed = {}
        sums = archive.read(f"{folder}/SHA256SUMS") if f"{folder}/SHA256SUMS" in names else b""
        for line in sums.decode().splitlines():
            digest, name = line.split("  ", 1)
            listed[name] = digest
        present = [name for name in PROGRAMS + DOCUMENTS if f"{folder}/{name}" in names]
        for name in present:
            digest = hashlib.sha256(archive.read(f"{folder}/{name}")).hexdigest()
            if listed.get(name) != digest:
                problems.append(f"SHA256SUMS does not match {name}")
        with tempfile.TemporaryDirectory() as scratch:
            for name in (program for program in PROGRAMS if program in present):
                path = os.path.join(scratch, name)
                with open(path, "wb") as file:
                    file.write(archive.read(f"{folder}/{name}"))
                foreign = imports_of(path) - SYSTEM_DLLS
                if foreign:
                    problems.append(f"{name} imports {sorted(foreign)}")
                resources = resources_of(path)
                for needed in ("VERSIONINFO", "FileVersion", "asInvoker", WINDOWS_10_11):
                    if needed not in resources:
                        problems.append(f"{name} has no {needed} in its resources")
                print(f"{name}: imports {sorted(imports_of(path))}")
    return problems


def main():
    if len(sys.argv) != 2:
        print("usage: check-package.py <zip>", file=sys.stderr)
        return 2
    problems = check(sys.argv[1])
    for problem in problems:
        print("PROBLEM:", problem)
    if not problems:
        print(f"{sys.argv[1]}: as expected")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
