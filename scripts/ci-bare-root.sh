#!/usr/bin/env bash
# Runs the README's two commands, ./scripts/demo.sh then ./scripts/test.sh, from a fresh
# clone of this repository inside a bare Debian 12 root, as on a newcomer's machine: nothing
# but what Debian's apt variant holds, so the commands must install the rest themselves.
# /proc is mounted, /dev bound, and ../shared bound beside the clone, so that the corpus and
# hostile-input tests run there too.
#
# The bare root is made once with mmdebstrap and kept as a tarball (MIMEENGINE_ROOT_CACHE,
# default /var/cache/mimeengine/bookworm-bare.tar); nothing installed later goes into it.
#
# Exit status: that of the commands; 75 when a package mirror is out of reach (mmdebstrap
# cannot be downloaded, or cannot fetch the root), after a line starting with SKIPPED; 1 when
# the root cannot be made or entered for any other reason.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
shared=$(cd "$repo/.." && pwd)/shared
cache=${MIMEENGINE_ROOT_CACHE:-/var/cache/mimeengine/bookworm-bare.tar}

skip() {
  echo "SKIPPED: bare Debian 12 root: $*" >&2
  exit 75
}

fail() {
  echo "FAILED: bare Debian 12 root: $*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "making and entering a root needs root"
deps=0
"$repo/scripts/install-deps.sh" root || deps=$?
[ "$deps" -ne 75 ] || skip "mmdebstrap cannot be downloaded (package mirror out of reach)"
if [ "$deps" -ne 0 ]; then
  echo "FAILED: mmdebstrap could not be installed" >&2
  exit "$deps"
fi
if [ ! -f "$cache" ] || [ ! -s "$cache" ]; then
  mkdir -p "$(dirname "$cache")"
  mmdebstrap --variant=apt --format=tar --quiet bookworm "$cache.part" || skip "mmdebstrap failed (package mirror?)"
  mv "$cache.part" "$cache"
fi

root=$(mktemp -d "${TMPDIR:-/var/tmp}/mimeengine-root.XXXXXX")
cleanup() {
  for m in work/shared dev proc; do
    mountpoint -q "$root/$m" && umount -R "$root/$m"
  done
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
trap "exit 130" INT TERM
tar -xf "$cache" -C "$root" || fail "the cached root cannot be unpacked"
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone -q "$repo" "$root/work/main"
mkdir -p "$root/work/shared"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"
if [ -d "$shared" ]; then
  mount --bind "$shared" "$root/work/shared"
fi

echo "== In a bare Debian 12 root: ./scripts/demo.sh, then ./scripts/test.sh =="
chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 CI="${CI:-}" \
  /bin/bash -c 'cd /work/main && ./scripts/demo.sh && ./scripts/test.sh'
