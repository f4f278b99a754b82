#!/usr/bin/env bash
# Builds the Debian packages, installs them with apt-get (which resolves their
# dependencies), uses every part from its installed location only, then purges
# them and checks that none of their files is left. Whatever happens, the
# packages are purged on exit: the machine is left as it was found.
#
#   tests/packages/package_test.sh [BUILD_DIR]
#
# Needs root (apt-get, and Wireshark reads its system plugin folder only as
# root). Without root it is skipped with a message, and fails when CI=true.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD
out=${1:-build/package}

skip() {
  if [ "${CI:-}" = true ]; then echo "FAIL: package test cannot run: $*" >&2; exit 1; fi
  echo "SKIPPED: package test: $*"; exit 0
}
fail() { echo "FAIL: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || skip "needs root to install packages"
command -v apt-get >/dev/null && command -v dpkg-deb >/dev/null || skip "not a Debian system"

all_packages=(libmervox0 libmervox-dev mervox wireshark-plugin-mervox gstreamer1.0-mervox python3-mervox)
for p in "${all_packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    skip "$p is already installed on this machine; not touching it"
  fi
done

mkdir -p "$(dirname "$out")"
scripts/package.sh "$out" >"$out.log" 2>&1 || { tail -n 40 "$out.log"; fail "building the packages"; }
mapfile -t debs < <(ls "$out"/*.deb)
mapfile -t packages < <(for d in "${debs[@]}"; do dpkg-deb -f "$d" Package; done)
echo "packages: ${packages[*]}"

# Under CI every part must have been packaged.
if [ "${CI:-}" = true ]; then
  for p in "${all_packages[@]}"; do
    [[ " ${packages[*]} " == *" $p "* ]] || fail "$p was not built"
  done
fi

echo "lintian:"
lintian --tag-display-limit 0 "${debs[@]}" | tee "$out/lintian.txt" || true
# The only finding left is CPack's own ldconfig call beside the trigger (see doc/building.md).
if grep -E '^[EW]: ' "$out/lintian.txt" | grep -v 'maintscript-calls-ldconfig' | grep -q .; then
  fail "lintian reports errors or warnings"
fi

work=$(mktemp -d)
chmod 755 "$work"
cleanup() {
  local status=$?
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >/dev/null 2>&1 || true
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Every file the packages hold, to check after the purge.
for d in "${debs[@]}"; do dpkg-deb -c "$d" | awk '{print substr($6, 2)}'; done | grep -v '/$' >"$work/files"

debs_abs=()
for d in "${debs[@]}"; do debs_abs+=("$(realpath "$d")"); done
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${debs_abs[@]}" >"$work/install.log" 2>&1 \
  || { cat "$work/install.log"; fail "apt-get install"; }

# Nothing from the build tree from here on: a clean environment, system paths.
run() { env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$work" "$@"; }
fnv_of() {  # "<frames> <FNV-1a 64>" of raw s16le samples in a file
  /usr/bin/python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
h = 0xcbf29ce484222325
for b in data:
    h = ((h ^ b) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
print(len(data) // 480, format(h, "016x"))
PY
}
sample=$src/samples/speech-a-10s.63.bit
corpus=$src/tests/data/corpus

# The library through pkg-config, decoding the sample and a corpus stream.
run cc "$src/tests/api/consumer/consumer.c" -o "$work/consumer" $(run pkg-config --cflags --libs mervox) \
  || fail "building a C program with pkg-config --cflags --libs mervox"
want_sample=$(run "$work/consumer" "$sample")
want_vad=$(awk '$1 == "speech-a.63-vad" {print $2, $3}' "$corpus/expected-digests.txt")
[ "$(run "$work/consumer" "$corpus/speech-a.63-vad.bit")" = "$want_vad" ] || fail "installed library: corpus digest"
[ "$(run pkg-config --modversion mervox)" = "$(run mervox --version | awk '{print $2}')" ] || fail "versions differ"
echo "ok: pkg-config consumer ($want_sample)"

# The command and its manual page.
run mervox -q decode "$sample" -o "$work/sample.raw" || fail "mervox decode"
[ "$(fnv_of "$work/sample.raw")" = "$want_sample" ] || fail "mervox decode: samples differ from the library's"
run man -w mervox >/dev/null || fail "man -w mervox"
echo "ok: mervox decode, man page"

for p in "${packages[@]}"; do
  case $p in
  wireshark-plugin-mervox)
    run tshark -G plugins | grep -E 'mervox.*codec' || fail "tshark -G plugins does not list the codec plugin"
    tests/wireshark/sharkd_decode.sh "$corpus/call-a.pcapng" "$work/sharkd" system || fail "sharkd decode"
    echo "ok: Wireshark plugin"
    ;;
  gstreamer1.0-mervox)
    run gst-inspect-1.0 mervoxdec >/dev/null || fail "gst-inspect-1.0 mervoxdec"
    echo "ok: GStreamer element"
    ;;
  python3-mervox)
    got=$(run /usr/bin/python3 -c '
import sys, mervox
pcm = mervox.decode(sys.argv[1])
h = 0xcbf29ce484222325
for b in pcm.astype("<i2").tobytes():
    h = ((h ^ b) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
print(len(pcm) // 240, format(h, "016x"), mervox.__version__)' "$sample") || fail "python3 -c 'import mervox'"
    [ "${got% *}" = "$want_sample" ] || fail "Python module: '$got', want '$want_sample'"
    [ "${got##* }" = "$(run mervox --version | awk '{print $2}')" ] || fail "Python module version"
    echo "ok: Python module"
    ;;
  esac
done

DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >"$work/purge.log" 2>&1 \
  || { cat "$work/purge.log"; fail "apt-get purge"; }
left=$(while read -r f; do [ -e "$f" ] || [ -L "$f" ] && echo "$f"; done <"$work/files" || true)
[ -z "$left" ] || fail "left behind after purge: $left"
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "installed" && fail "$p still installed"
done
echo "package test passed: ${#packages[@]} packages built, installed, used and purged"
