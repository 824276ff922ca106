#!/usr/bin/env bash
# Usage: check_install.sh BUILD_DIR CONSUMER_DIR CXX [FLAGS]. Installs into a temporary prefix, builds
# the consumer (the flat C client as C++) with find_package(mimeengine) and with pkg-config,
# and runs both. Exits 77 (skipped) without pkg-config.
set -euo pipefail
build=$1 consumer=$2 cxx=$3 flags=${4:-}
command -v pkg-config >/dev/null || { echo "pkg-config not found: skipping the install check"; exit 77; }
scratch=$(mktemp -d "${TMPDIR:-/tmp}/mimeengine-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix log=$scratch/log
quiet() { "$@" >"$log" 2>&1 || { cat "$log"; exit 1; }; }
quiet cmake --install "$build" --prefix "$prefix"
quiet cmake -S "$consumer" -B "$scratch/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags"
quiet cmake --build "$scratch/cmake"
# pkg-config, looking only at the installed .pc file, whose flags must point into the prefix.
export PKG_CONFIG_LIBDIR=$(dirname "$(find "$prefix" -name mimeengine.pc | head -n 1)")
pcflags=$(pkg-config --cflags --libs mimeengine)
[[ $pcflags == *"$prefix"* || $pcflags == *pkgconfig/..* ]] || { echo "pkg-config flags outside the prefix: $pcflags"; exit 1; }
# shellcheck disable=SC2086
quiet "$cxx" -std=c++17 $flags -o "$scratch/pc-consumer" -x c++ "$consumer/../../flat/c_client.c" -x none $pcflags
export LD_LIBRARY_PATH=$(pkg-config --variable=libdir mimeengine)
for program in "$scratch/cmake/consumer" "$scratch/pc-consumer"; do
  out=$("$program" "$consumer/../../data/flat/c_client_body.txt")
  [[ $out == "parts 1 1 encode 0 -1 (freed) decode 1 1 md"*"/data.bin [Hello from C"*"freed 1 1 foreign 1 1" ]] \
    || { printf '%s printed:\n%s\n' "$program" "$out"; exit 1; }
done
echo "find_package(mimeengine) and pkg-config mimeengine: ok"
