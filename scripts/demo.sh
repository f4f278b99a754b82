#!/usr/bin/env bash
# README quick start, first command: installs what is missing, builds the
# library and the mervox tool, and decodes the bundled speech sample to a
# WAV file.
#
#   scripts/demo.sh            install what is missing, build, decode
#   MERVOX_SKIP_INSTALL=1 ...  do not call apt-get
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

[ "${MERVOX_SKIP_INSTALL:-0}" = 1 ] || scripts/install-deps.sh build

echo "Building (build/demo) ..."
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DMERVOX_BUILD_TESTS=OFF -DMERVOX_BUILD_BENCHMARKS=OFF \
  -DMERVOX_PYTHON_MODULE=OFF -DMERVOX_WIRESHARK_PLUGIN=OFF -DMERVOX_GSTREAMER_PLUGIN=OFF >build-demo.log 2>&1 \
  && cmake --build build/demo -j"$jobs" >>build-demo.log 2>&1 \
  || { tail -n 40 build-demo.log; echo "Build failed; full log in build-demo.log" >&2; exit 1; }

mkdir -p out
sample=samples/speech-a-10s.63.bit
wav=out/speech-a-10s.wav
mervox=build/demo/tools/mervox/mervox
if [ ! -x "$mervox" ]; then
  grep -A2 "skipped, missing" build-demo.log >&2 || true
  echo "The mervox command was not built (see above; scripts/install-deps.sh build installs its packages)." >&2
  exit 1
fi
"$mervox" decode "$sample" -o "$wav"
length=$("$mervox" info "$sample" | sed -n 's/^frames: *\([0-9]*\) (\(.*\))$/\1 frames, \2/p')
echo "Decoded $sample ($length) to:"
echo "  $(pwd)/$wav"
echo "The mervox command is $mervox (try: $mervox --help)."
