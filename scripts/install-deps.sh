#!/usr/bin/env bash
# Installs the Debian packages that the three build lanes need, when any is missing.
set -euo pipefail
packages=(cmake ninja-build g++ g++-mingw-w64-x86-64-posix wine wine64 googletest libgtest-dev
          nlohmann-json3-dev)
# The sanitizer and fuzzing build: clang-19 with its sanitizer and libFuzzer runtimes (clang 14
# cannot compile <expected>), and llvm-symbolizer for readable sanitizer reports.
packages+=(clang-19 libclang-rt-19-dev llvm)
# The host example and the checks of the host documentation.
packages+=(python3)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
