#!/usr/bin/env bash
# Installs a build tree into a temporary prefix, then builds and runs the consumer program
# against the installed files: with find_package(mimeengine) and with pkg-config.
# Usage: check_install.sh <build dir> <consumer source dir> <c++ compiler> [extra flags]
# Exits 77 (skipped) when pkg-config is not installed.
set -euo pipefail

build=$1
consumer=$2
cxx=$3
flags=${4:-}

if ! command -v pkg-config >/dev/null 2>&1; then
  echo "pkg-config not found: skipping the install check"
  exit 77
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/mimeengine-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" || { cat "$scratch/install.log"; exit 1; }

expected=$'MULTIPART/mixed\n  TEXT/plain\n  IMAGE/gif\n  MESSAGE/rfc822\n    TEXT/plain\nparts: 5'

# 1. The CMake package.
cmake -S "$consumer" -B "$scratch/cmake-build" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$scratch/configure.log" \
  || { cat "$scratch/configure.log"; exit 1; }
cmake --build "$scratch/cmake-build" >"$scratch/build.log" || { cat "$scratch/build.log"; exit 1; }
out=$("$scratch/cmake-build/consumer")
if [ "$out" != "$expected" ]; then
  printf 'find_package consumer printed:\n%s\nexpected:\n%s\n' "$out" "$expected"
  exit 1
fi
echo "find_package(mimeengine): ok"

# 2. pkg-config, looking only at the installed .pc file.
pcdir=$(dirname "$(find "$prefix" -name mimeengine.pc | head -n 1)")
export PKG_CONFIG_PATH=$pcdir PKG_CONFIG_LIBDIR=$pcdir
pcflags=$(pkg-config --cflags --libs mimeengine)
case "$pcflags" in
  *"$prefix"*|*pkgconfig/..*) ;;
  *) echo "pkg-config flags do not point into the install prefix: $pcflags"; exit 1 ;;
esac
# shellcheck disable=SC2086
"$cxx" -std=c++17 $flags -o "$scratch/pc-consumer" "$consumer/main.cpp" $pcflags
libdir=$(pkg-config --variable=libdir mimeengine)
out=$(LD_LIBRARY_PATH=$libdir "$scratch/pc-consumer")
if [ "$out" != "$expected" ]; then
  printf 'pkg-config consumer printed:\n%s\nexpected:\n%s\n' "$out" "$expected"
  exit 1
fi
echo "pkg-config mimeengine: ok"
