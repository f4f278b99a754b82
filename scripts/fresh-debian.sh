#!/usr/bin/env bash
# Runs one of the README's quick-start commands as a newcomer would: in a
# freshly bootstrapped minimal Debian 12 (debootstrap --variant=minbase
# bookworm), from a clean copy of this tree in root's home (/root, mode
# 700), as root, with nothing installed but the base system.
#
#   scripts/fresh-debian.sh demo    scripts/demo.sh in the fresh system
#   scripts/fresh-debian.sh test    scripts/test.sh in the fresh system
#
# Needs root and debootstrap (installed when missing). The bootstrapped base
# is kept in $MERVOX_FRESH_DEBIAN_CACHE (default build/fresh-debian/base) and
# copied for each run, so a second run does not download it again; the run's
# system is build/fresh-debian/NAME, kept after the run for inspection (its
# copy of the tree is build/fresh-debian/NAME/root/mervox). The mirror is
# $MERVOX_DEBIAN_MIRROR (default http://deb.debian.org/debian).
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-}
case $what in
  demo) command=scripts/demo.sh ;;
  test) command=scripts/test.sh ;;
  *) echo "usage: $0 demo|test" >&2; exit 2 ;;
esac
[ "$(id -u)" -eq 0 ] || { echo "$0: needs root (debootstrap, chroot)" >&2; exit 1; }
if ! command -v debootstrap >/dev/null 2>&1; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap
fi

top=$(pwd)/build/fresh-debian
base=${MERVOX_FRESH_DEBIAN_CACHE:-$top/base}
mirror=${MERVOX_DEBIAN_MIRROR:-http://deb.debian.org/debian}
root=$top/$what

if [ ! -e "$base/.complete" ]; then
  echo "Bootstrapping a minimal Debian 12 in $base ..."
  rm -rf "$base"
  mkdir -p "$(dirname "$base")"
  debootstrap --variant=minbase bookworm "$base" "$mirror" >"$top-bootstrap.log" 2>&1 \
    || { tail -n 20 "$top-bootstrap.log"; echo "$0: debootstrap failed (log: $top-bootstrap.log)" >&2; exit 1; }
  touch "$base/.complete"
fi

mounted=()
cleanup() {
  local m
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    m=${mounted[i]}
    umount -l "$m" 2>/dev/null || true
  done
}
trap cleanup EXIT

rm -rf "$root"
cp -a "$base" "$root"
rm -f "$root/.complete"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# No services start inside the fresh system.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
for fs in proc sys dev dev/pts; do
  mkdir -p "$root/$fs"
  mount --bind "/$fs" "$root/$fs"
  mounted+=("$root/$fs")
done

# A clean copy: the files git knows of (committed or not, not ignored), or
# everything but build output where this is not a git checkout.
chmod 700 "$root/root"
mkdir -p "$root/root/mervox"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
    [ -e "$f" ] && printf '%s\0' "$f"
  done | tar --null -T - -cf - | tar -xf - -C "$root/root/mervox"
else
  tar --exclude=./build --exclude='./build-*.log' --exclude=./out -cf - . | tar -xf - -C "$root/root/mervox"
fi

# A newcomer's environment: nothing of ours but, for the full test run, CI
# (under CI=true a part that cannot be built is an error there too).
ci=()
[ "$what" = test ] && ci=(CI="${CI:-}")
echo "Running $command in a fresh Debian 12 ($root) ..."
chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb "${ci[@]}" \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  /bin/bash -c "cd /root/mervox && $command"
