#!/usr/bin/env bash
# Makes the release zip from the cross lane's outputs: both programs, the host documents, the
# example and a SHA-256 list of everything in it, under one folder named after the version.
#   scripts/package.sh [zip path]   (default: <build>/quarvel-sandbox-windows-<version>.zip)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_BUILD_DIR:-$root/build}
cross=$build/cross
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$cross/CMakeCache.txt")
if [ -z "$version" ]; then
  echo "package.sh: no cross build with a project version in $cross" >&2
  exit 1
fi
zip=${1:-$build/quarvel-sandbox-windows-$version.zip}
python3 - "$root" "$cross" "$version" "$zip" <<'PYTHON'
import hashlib
import os
import sys
import zipfile

root, cross, version, target = sys.argv[1:5]
folder = f"quarvel-sandbox-windows-{version}"
files = [
    (os.path.join(cross, "quarvel-sandbox-windows.exe"), "quarvel-sandbox-windows.exe"),
    (os.path.join(cross, "quarvel-sandbox-selftest.exe"), "quarvel-sandbox-selftest.exe"),
    (os.path.join(root, "README.md"), "README.md"),
    (os.path.join(root, "docs", "host-protocol.md"), "docs/host-protocol.md"),
    (os.path.join(root, "docs", "security-model.md"), "docs/security-model.md"),
    (os.path.join(root, "docs", "cost-model.md"), "docs/cost-model.md"),
    (os.path.join(root, "docs", "self-test.md"), "docs/self-test.md"),
    (os.path.join(root, "examples", "host_example.py"), "examples/host_example.py"),
]
sums = []
partial = target + ".partial"
with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as archive:
    for source, name in files:
        with open(source, "rb") as file:
            data = file.read()
        archive.writestr(f"{folder}/{name}", data)
        sums.append(f"{hashlib.sha256(data).hexdigest()}  {name}\n")
    archive.writestr(f"{folder}/SHA256SUMS", "".join(sums))
os.replace(partial, target)
print(target)
PYTHON
