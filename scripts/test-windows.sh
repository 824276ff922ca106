#!/usr/bin/env bash
# Builds mimeengine.dll, mimeengine.exe and the tests for 64-bit and 32-bit Windows with
# mingw-w64, checks what both DLLs export, and runs the suite under Wine:
#   build-win64/  x86_64: the whole suite, through 64-bit Wine in a fresh prefix;
#   build-win32/  i686: the library, the program and the suite, through 32-bit Wine from an
#                 i386 Debian root made with mmdebstrap. Where the kernel cannot execute
#                 32-bit programs, qemu-user-static 10 from bookworm-backports is installed
#                 and registered for i386 programs first; where that cannot be done (not
#                 root, no binfmt_misc, no backports) the suite is skipped after a line
#                 starting with "SKIPPED: 32-bit" that says why.
# Exit status: 0 when everything that ran passed; 75 when the packages could not be
# installed (a package mirror out of reach), after a line starting with "SKIPPED"; anything
# else is a failed build, export check or test.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

# Installs the packages of the groups after WHAT. A package mirror out of reach
# (install-deps.sh's 75) returns 75 after a SKIPPED line; any other failure to install ends
# the script after a FAILED line.
install_groups() { # WHAT GROUP...
  local what=$1 deps=0
  shift
  ./scripts/install-deps.sh "$@" || deps=$?
  if [ "$deps" -eq 75 ]; then
    echo "SKIPPED: $what could not be downloaded" >&2
    return 75
  elif [ "$deps" -ne 0 ]; then
    echo "FAILED: $what could not be installed" >&2
    exit "$deps"
  fi
}

install_groups "Windows: the cross compilers and Wine" build tools tests windows || exit 75

configure_and_build() { # DIR TOOLCHAIN EMULATOR TESTS(ON|OFF)
  # Optimised as the other builds, without debug information: nothing reads it under Wine,
  # and it costs a third of the compile time.
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="cmake/$2" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$3" -DMIMEENGINE_BUILD_TESTS="$4" >/dev/null
  cmake --build "$1" -j "$jobs"
}

# Every flat function of mimeengine_flat.h under its plain name, the classes (GCC-mangled)
# and the two tables.
check_exports() { # DLL
  local table missing=()
  table=$(objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
  local names
  names=$(grep -o 'MIMEENGINE_API [^(]*(' include/mimeengine/mimeengine_flat.h | sed 's/.*[ *]\([A-Za-z0-9_]*\)($/\1/')
  for name in $names szContType szEncodeType; do
    grep -qE "\] $name\$" <<<"$table" || missing+=("$name")
  done
  for class in CBlock CInputBlock COutputBlock CMIMEEngine CParseUtilities; do
    grep -qE "\] _ZN[0-9A-Z]*${#class}${class}[0-9CD]" <<<"$table" || missing+=("class $class")
  done
  if [ ${#missing[@]} -ne 0 ]; then
    echo "FAILED: $1 does not export: ${missing[*]}" >&2
    return 1
  fi
  echo "exports of $1: $(grep -c '\] ' <<<"$table") names, every flat function, class and table present"
}

# A fresh Wine prefix with a persistent server: helper processes of a transient server keep
# CTest's pipes open. The registry values the tests read are written into it.
start_wine() { # WINE PREFIX [ROOT-RUNNER...]
  local wine=$1 prefix=$2
  shift 2
  export WINEPREFIX=$prefix WINEDEBUG=-all
  "$@" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
  timeout 180 "$@" "$wine" wineboot -i </dev/null >/dev/null 2>&1
  "$@" wineserver -w
  "$@" wineserver -p </dev/null >/dev/null 2>&1
  timeout 60 "$@" "$wine" cmd /c exit 0 </dev/null >/dev/null 2>&1
  grep -v '^#' tests/data/pack/windows-registry.tsv | while IFS=$'\t' read -r key name data; do
    timeout 60 "$@" "$wine" reg add "$key" /v "$name" /t REG_SZ /d "$data" /f </dev/null >/dev/null 2>&1
  done
}

# A Wine that cannot run the program in front of it may still exit 0: a tiny program of the
# build's architecture must come back with the status it chose before any result counts.
guard() { # DIR COMPILER EMULATOR...
  local dir=$1 compiler=$2
  shift 2
  printf 'int main(void) { return 7; }\n' >"$dir/exit7.c"
  "$compiler" -o "$dir/exit7.exe" "$dir/exit7.c"
  local status=0
  (cd "$dir" && timeout 60 "$@" exit7.exe </dev/null >/dev/null 2>&1) || status=$?
  if [ "$status" -ne 7 ]; then
    echo "FAILED: a test program of $dir under Wine exited $status instead of 7" >&2
    return 1
  fi
}

run_suite() { # DIR
  local log=$1/ctest.log status=0
  ctest --test-dir "$1" -j "$jobs" --timeout 600 --output-on-failure >"$log" 2>&1 || status=$?
  grep -E '^[0-9]+% tests passed' "$log" | sed "s|^|$1: |"
  if [ "$status" -ne 0 ]; then
    sed -n '/The following tests FAILED/,$p' "$log" >&2
    echo "FAILED: the suite of $1 (full log: $log)" >&2
  fi
  return "$status"
}

cleanup() {
  WINEPREFIX=$source/build-win64/wineprefix wineserver -k >/dev/null 2>&1 || true
  if [ -n "${i386_root:-}" ]; then
    chroot "$i386_root" wineserver -k >/dev/null 2>&1 || true
    for m in $(findmnt -rn -o TARGET | grep "^$i386_root/" | sort -r); do umount "$m" || true; done
  fi
}
trap cleanup EXIT

# Makes this machine run i386 programs through qemu's user-mode emulator when its kernel
# cannot: qemu 10 (Debian 12's own 7.2 takes a minute to start each 32-bit Wine program),
# registered in binfmt_misc with the F flag so that it works inside the i386 root too. An
# i386 rule already there is left alone. Prints the reason and fails when it cannot.
i386_emulation() {
  /usr/lib/arch-test/i386 >/dev/null 2>&1 && return 0
  [ "$(id -u)" -eq 0 ] || { echo "registering an emulator needs root"; return 1; }
  local misc=/proc/sys/fs/binfmt_misc
  if [ ! -e "$misc/register" ]; then
    mount -t binfmt_misc binfmt_misc "$misc" 2>/dev/null || { echo "binfmt_misc cannot be mounted"; return 1; }
  fi
  local qemu=/usr/bin/qemu-i386-static version
  version=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)
  if [ ! -x "$qemu" ] || dpkg --compare-versions "${version:-0}" lt 1:10; then
    local list=/etc/apt/sources.list.d/mimeengine-backports.sources
    if ! grep -rqs bookworm-backports /etc/apt/sources.list /etc/apt/sources.list.d/; then
      printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' >"$list"
    fi
    { DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends -t bookworm-backports \
        qemu-user-static >/dev/null; } 2>&1 | tail -n 3 >&2 || true
    version=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)
    dpkg --compare-versions "${version:-0}" ge 1:10 || { echo "qemu-user-static 10 cannot be installed from bookworm-backports"; return 1; }
  fi
  if ! grep -qs '^magic 7f454c4601010100000000000000000002000300$' "$misc"/*; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >"$misc/register" 2>/dev/null || { echo "binfmt_misc refused the i386 rule"; return 1; }
  fi
  /usr/lib/arch-test/i386 >/dev/null 2>&1 || { echo "i386 programs still do not run"; return 1; }
}

# 32-bit Wine from an i386 root, entered with chroot; the sources and builds appear in it at
# the same paths. Made once and kept; made under another name and renamed when whole, so that
# an interrupted run leaves no root that looks ready. Fails after a SKIPPED line when the
# package mirror is out of reach, after a FAILED line (and exits) on any other failure.
i386_root=/var/cache/mimeengine/wine-i386
make_i386_root() {
  [ -x "$i386_root/usr/lib/wine/wine" ] && return 0
  install_groups "32-bit: mmdebstrap" root || return 1
  rm -rf "$i386_root" "$i386_root.part" && mkdir -p "$i386_root.part"
  if ! awk 'BEGIN{RS="";ORS="\n\n"} NR==1' /etc/apt/sources.list.d/debian.sources |
    mmdebstrap --quiet --arch=i386 --variant=apt --include=wine,wine32 \
      --aptopt='APT::Install-Recommends "false"' bookworm "$i386_root.part" -; then
    rm -rf "$i386_root.part"
    echo "SKIPPED: 32-bit: the i386 root with Wine could not be made" >&2
    return 1
  fi
  mv "$i386_root.part" "$i386_root"
}

# --prepare: only what needs the network (packages, the emulator, the i386 root), so that CI
# can fetch it while it builds something else; the run after it finds everything in place.
if [ "${1:-}" = "--prepare" ]; then
  i386_emulation >/dev/null && make_i386_root
  exit 0
fi

echo "== Windows x86_64 =="
configure_and_build build-win64 mingw-w64-x86_64.cmake /usr/lib/wine/wine64 ON
check_exports build-win64/mimeengine.dll
start_wine /usr/lib/wine/wine64 "$source/build-win64/wineprefix"
guard build-win64 x86_64-w64-mingw32-gcc-posix /usr/lib/wine/wine64
status=0
run_suite build-win64 || status=1

echo "== Windows i686 =="
if why=$(i386_emulation); then
  make_i386_root || exit "$status"
  for dir in /proc /dev /tmp "$source"; do
    mkdir -p "$i386_root$dir" && mount --bind "$dir" "$i386_root$dir"
  done
  runner=$source/build-win32/wine32
  mkdir -p build-win32
  printf '#!/bin/sh\n# Runs a program of the i686 build with the 32-bit Wine of the i386 root, from the same directory.\nexec chroot %s /usr/bin/env WINEPREFIX="$WINEPREFIX" WINEDEBUG=-all /bin/sh -c '"'"'cd "$0" && exec /usr/lib/wine/wine "$@"'"'"' "$PWD" "$@"\n' "$i386_root" >"$runner"
  chmod +x "$runner"
  configure_and_build build-win32 mingw-w64-i686.cmake "$runner" ON
  check_exports build-win32/mimeengine.dll
  start_wine /usr/lib/wine/wine "$source/build-win32/wineprefix" chroot "$i386_root"
  guard build-win32 i686-w64-mingw32-gcc-posix "$runner"
  run_suite build-win32 || status=1
else
  configure_and_build build-win32 mingw-w64-i686.cmake "" OFF
  check_exports build-win32/mimeengine.dll
  echo "SKIPPED: 32-bit: this machine cannot execute 32-bit programs: $why;" \
    "the i686 DLL and program were built and their exports checked, the suite ran on x86_64 only" >&2
fi
exit "$status"
