#!/usr/bin/env bash
# Installs the Debian packages that a job of this project needs, named by group, and only
# those that are missing. Quiet when nothing is missing.
#
#   scripts/install-deps.sh GROUP...
#
# Groups:
#   build    compiler, CMake, Ninja, pkg-config: the library
#   tools    nlohmann-json: the mimeengine program
#   tests    GoogleTest and Python: the test suite
#   format   clang-format and git: the formatting check (of the files git tracks)
#   windows  mingw-w64 cross compilers, Wine and arch-test: the Windows DLL and its tests
#   fuzz     clang with libFuzzer and the sanitizer runtimes: the fuzz targets
#   bench    GMime and the bare tools that the benchmarks compare against
#   root     mmdebstrap: the check that the README's commands work on a bare machine
#   dask     Dask distributed for /usr/bin/python3: the cluster example and its test
#
# As root it runs apt-get itself; otherwise through sudo when sudo is there. When neither is
# possible it stops and prints the apt-get line to run. Exit status 75 when apt-get itself
# fails (a package mirror that cannot be reached), so that callers can tell it from a failed
# build or test.
set -euo pipefail

packages_of() {
  case "$1" in
    build) echo cmake ninja-build g++ pkg-config ;;
    tools) echo nlohmann-json3-dev ;;
    tests) echo libgtest-dev libgmock-dev googletest python3 ;;
    format) echo clang-format git ;;
    windows) echo g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 arch-test ;;
    fuzz) echo clang libclang-rt-14-dev ;;
    bench) echo libgmime-3.0-dev coreutils sharutils ;;
    root) echo mmdebstrap ;;
    dask) echo python3-distributed python3-dask ;;
    *) echo "install-deps: unknown group '$1' (build tools tests format windows fuzz bench root dask)" >&2; return 1 ;;
  esac
}

if [ $# -eq 0 ]; then
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
  exit 1
fi

wanted=()
for group in "$@"; do
  list=$(packages_of "$group")
  wanted+=($list)
done

missing=()
for p in "${wanted[@]}"; do
  # Installed means dpkg knows it as installed, not only that it was once configured.
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-deps: missing packages and no way to install them (not root, no sudo). Run as root:" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq || exit 75
"${as_root[@]}" apt-get install -o DPkg::Lock::Timeout=600 -y -qq --no-install-recommends "${missing[@]}" >/dev/null || exit 75
