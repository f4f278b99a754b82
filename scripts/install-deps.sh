#!/usr/bin/env bash
# Installs the Debian packages that building and testing mervox need.
# Runs apt-get only when something is missing; needs root (or sudo) then.
#
#   scripts/install-deps.sh          everything the tests need
#   scripts/install-deps.sh build    only what the library and the mervox command need
set -euo pipefail

lean_packages=()
packages=(
  # library and command-line tool
  build-essential cmake pkg-config
  libcli11-dev nlohmann-json3-dev
)
if [ "${1:-all}" != build ]; then
  packages+=(
    # tests, second compiler, sanitizers and fuzzing, memory checks, benchmarks
    libgtest-dev libgmock-dev clang libclang-rt-14-dev valgrind libbenchmark-dev
    # libpcap: the capture tests compare the command's own pcap reading with it
    libpcap-dev
    # Debian packages of mervox and their test (lintian, the manual page)
    lintian man-db
    # a WAV reader that checks the command's output (piped WAV included)
    libsndfile1-dev
    # GNU parallel: the fan-out in doc/command.md of the command over machines, tested locally
    parallel
    # SIPp user agents: a real SIP call on the loopback interface, captured and read
    sip-tester
    # 32-bit Windows DLLs and their tests under Wine
    g++-mingw-w64-i686 wine wine32:i386
    # the format check
    clang-format
    # systemd-analyze, which checks the recorder's unit (packaging/systemd)
    systemd
    # a fresh minimal Debian 12 for the quick-start check (scripts/fresh-debian.sh)
    debootstrap
    # Python module (Debian's /usr/bin/python3), its tests, wheel and venv install test
    python3-dev pybind11-dev python3-numpy python3-pytest
    python3-build python3-setuptools python3-wheel python3-venv python3-pip
    # the type stub checked against the module (mypy's stubtest)
    python3-mypy
  )
  # Large development packages, installed without their recommendations
  # (which pull in a desktop).
  lean_packages+=(
    # Wireshark codec plugin; tshark and sharkd (package tshark) run its tests
    wireshark-dev libwireshark-dev libwsutil-dev tshark python3
    # GStreamer plugin; its tests need gst-check, gst-launch-1.0, the RTP,
    # capture and WAV elements, and editcap/capinfos (from tshark's
    # wireshark-common)
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
    # GStreamer from Python: the capture example started after a pause
    python3-gi gir1.2-gstreamer-1.0
    # the API reference (the doc target) and its warning check
    doxygen
    # a second WAV reader for the command's piped WAV (no sound servers)
    sox
    # cross builds for aarch64 and s390x (big-endian), run under qemu-user
    # (called directly: qemu-user-binfmt, its recommendation, is not needed)
    g++-aarch64-linux-gnu g++-s390x-linux-gnu qemu-user
    # 64-bit Windows DLLs (POSIX thread model) and their tests under wine64
    g++-mingw-w64-x86-64-posix wine64
    # the Windows release archives' test: unzip, LLVM's readobj and dlltool, lld-link
    unzip llvm lld
    # the HTML call report rendered by a real browser (headless), with
    # fonts for its text
    chromium fonts-liberation fonts-dejavu-core
  )
fi

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# wine32 is an i386 package.
if [[ " ${packages[*]} " == *" wine32:i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  as_root apt-get update -qq
fi

missing_of() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_lean < <(missing_of "${lean_packages[@]}")
if [ $((${#missing[@]} + ${#missing_lean[@]})) -gt 0 ]; then
  as_root apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
if [ ${#missing_lean[@]} -gt 0 ]; then
  echo "Installing (without recommended packages): ${missing_lean[*]}"
  # tshark asks whether non-root users may capture packets: no (the tests
  # read captures only).
  echo "wireshark-common wireshark-common/install-setuid boolean false" | as_root debconf-set-selections
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing_lean[@]}"
fi
