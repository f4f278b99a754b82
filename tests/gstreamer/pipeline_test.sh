#!/usr/bin/env bash
# Runs the GStreamer examples of doc/gstreamer.md as written and checks what they
# decode, sample for sample:
#
#   pipeline_test.sh capture MERVOX PAGES CORPUS WORK PLUGIN
#     the capture example on both streams of the corpus capture, against
#     `mervox pcap` (3906 frames each), started at once and after a pause
#   pipeline_test.sh stream MERVOX PAGES CORPUS WORK PLUGIN
#     the stream-file example (mervoxparse) on corpus streams and on a
#     stream with a truncated last frame, against `mervox decode`
#   pipeline_test.sh live MERVOX PAGES CORPUS WORK PLUGIN
#     both live examples, fed by tests/gstreamer/rtp_sender.py with packets
#     left out; the recording against `mervox decode --loss`
#   pipeline_test.sh install MERVOX PAGES CORPUS WORK PLUGIN CMAKE BUILD PLUGINSDIR
#     `cmake --install --component gstreamer` (into a DESTDIR) installs the
#     plugin alone into PLUGINSDIR, self-contained, and GStreamer loads it
#
# The GStreamer environment (private registry and plugin path) comes from
# ctest. MERVOX_GST_PRELOAD, if set, is preloaded into the GStreamer
# programs (the sanitizer runtime of a sanitizer build of the plugin).
set -euo pipefail
mode=$1 mervox=$2 pages=$3 corpus=$4 work=$5 plugin=$6
cmake=${7:-} build=${8:-} pluginsdir=${9:-}
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3

fail() { echo "FAIL: $*" >&2; exit 1; }

# Skipped (exit 77) on a developer machine without GStreamer's tools and
# plugins, a failure under CI.
require() {
    local missing=$1
    if [ "${CI:-}" = true ]; then fail "$missing"; fi
    echo "SKIPPED: $missing"
    exit 77
}
for tool in gst-launch-1.0 gst-inspect-1.0 editcap capinfos; do
    command -v "$tool" >/dev/null || require "$tool not found (scripts/install-deps.sh)"
done
if [ "$mode" = capture ]; then
    "$python" -c 'import gi; gi.require_version("Gst", "1.0")' 2>/dev/null \
        || require "GStreamer's Python bindings not found (python3-gi, gir1.2-gstreamer-1.0: scripts/install-deps.sh)"
fi

rm -rf "$work" && mkdir -p "$work/bin" && cd "$work"
# GStreamer's programs, and only they, get the preload (other programs, such
# as capinfos, hang with the sanitizer runtime preloaded).
if [ -n "${MERVOX_GST_PRELOAD:-}" ]; then
    for tool in gst-launch-1.0 gst-inspect-1.0; do
        printf '#!/bin/sh\nLD_PRELOAD=%s ASAN_OPTIONS=detect_leaks=0 exec %s "$@"\n' \
            "$MERVOX_GST_PRELOAD" "$(command -v $tool)" >"bin/$tool"
        chmod +x "bin/$tool"
    done
    export PATH=$work/bin:$PATH
fi

for element in pcapparse clocksync rtpjitterbuffer rtpg723depay audioconvert wavenc udpsrc autoaudiosink; do
    gst-inspect-1.0 --exists "$element" || require "GStreamer element $element not found (scripts/install-deps.sh)"
done

# The plugin that answers must be this build's.
filename=$(gst-inspect-1.0 mervoxdec | sed -n 's/^ *Filename *//p') || true
[ "$filename" = "$plugin" ] || fail "mervoxdec comes from '$filename', not from $plugin"

# The shell block that follows "<!-- gstreamer-example: NAME" in the pages
# (PAGES: Markdown files separated by colons, doc/gstreamer.md first). An
# example shown on several pages (the README's) must be the same on each.
example() {
    local block page found="" first=""
    local IFS=:
    for page in $pages; do
        block=$(awk -v marker="<!-- gstreamer-example: $1 " '
            index($0, marker) == 1 { found = 1; next }
            found && /^```sh/ { inside = 1; next }
            inside && /^```/ { exit }
            inside { print }' "$page")
        [ -n "$block" ] || continue
        if [ -z "$found" ]; then
            found=$block first=$page
        elif [ "$block" != "$found" ]; then
            fail "example '$1' differs between $first and $page"
        fi
    done
    [ -n "$found" ] || fail "no page has the example '$1' ($pages)"
    printf '%s\n' "$found"
}

# Compares the samples of two 16-bit mono WAV files; checks the frame count
# (if not empty).
same_samples() {
    "$python" - "$1" "$2" "$3" <<'EOF'
import struct, sys

def samples(path):
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        sys.exit("%s is not a WAV file" % path)
    at = 12
    while at + 8 <= len(data):
        chunk, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        if chunk == b"fmt ":
            fmt = struct.unpack("<HHIIHH", data[at + 8:at + 24])
            if fmt[0] != 1 or fmt[1] != 1 or fmt[2] != 8000 or fmt[5] != 16:
                sys.exit("%s: not 16-bit mono PCM at 8000 Hz: %s" % (path, fmt))
        if chunk == b"data":
            return data[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    sys.exit("%s has no data chunk" % path)

got, want = samples(sys.argv[1]), samples(sys.argv[2])
frames = int(sys.argv[3]) if sys.argv[3] else len(want) // 480
if len(got) != frames * 480 or len(want) != frames * 480:
    sys.exit("frames: %d decoded, %d expected, want %d" % (len(got) // 480, len(want) // 480, frames))
differ = [k for k in range(0, len(got), 2) if got[k:k + 2] != want[k:k + 2]]
if differ:
    sys.exit("%d of %d samples differ, the first at sample %d (frame %d)"
             % (len(differ), len(got) // 2, differ[0] // 2, differ[0] // 480))
print("%s: %d frames, every sample as %s" % (sys.argv[1], frames, sys.argv[2]))
EOF
}


case $mode in
capture)
    ln -s "$corpus/call-a.pcapng" call.pcapng
    "$mervox" -q pcap --layout streams call.pcapng -o reference || fail "mervox pcap"
    # decode SCRIPT WAV REFERENCE: runs the example once, compares its WAV
    # file; then again with the pipeline held PAUSED for a second before it
    # plays (gst-launch-1.0 started by launch_after_pause.py), as on a slow
    # machine. rtpjitterbuffer takes any gap it sees before PLAYING (it has
    # no clock then) for lost packets, so without the example's clocksync
    # this run loses the capture's reordered packets every time.
    mkdir -p paused
    printf '#!/bin/sh\nexec %s %s "$@"\n' "$python" "$here/launch_after_pause.py" >paused/gst-launch-1.0
    if [ -n "${MERVOX_GST_PRELOAD:-}" ]; then
        printf '#!/bin/sh\nLD_PRELOAD=%s ASAN_OPTIONS=detect_leaks=0 exec %s %s "$@"\n' \
            "$MERVOX_GST_PRELOAD" "$python" "$here/launch_after_pause.py" >paused/gst-launch-1.0
    fi
    chmod +x paused/gst-launch-1.0
    decode() {
        bash -euo pipefail -c "$1" || fail "the capture example failed"
        same_samples "$2" "$3" 3906 || return 1
        rm "$2"
        PATH=$work/paused:$PATH bash -euo pipefail -c "$1" || fail "the capture example failed after a pause"
        same_samples "$2" "$3" 3906 || { echo "(started after a pause)"; return 1; }
    }
    capture=$(example capture)
    decode "$capture" call.wav reference-0x11223344.wav || fail "first stream"
    # The second stream: the same example on its ports.
    second=$(sed -e 's/src-port=30000/src-port=30002/' -e 's/dst-port=40000/dst-port=40002/' \
                 -e 's/call\.wav/call-2.wav/' <<<"$capture")
    [ "$second" != "$capture" ] || fail "the capture example does not name ports 30000 and 40000"
    decode "$second" call-2.wav reference-0x55667788.wav || fail "second stream"
    ;;
stream)
    streamexample=$(example stream)
    head -c 2410 "$corpus/speech-a.63.bit" >truncated.bit  # 100 frames and 10 bytes
    for stream in "$corpus/speech-a.mixed.bit" "$corpus/speech-a.63-vad.bit" truncated.bit; do
        ln -sf "$stream" call.bit
        bash -euo pipefail -c "$streamexample" >stream.log 2>&1 || { cat stream.log; fail "the stream example failed"; }
        "$mervox" -q decode call.bit -o expected.wav || fail "mervox decode"
        same_samples call.wav expected.wav "" || fail "$stream"
    done
    # (-q keeps warnings quiet.)
    bash -euo pipefail -c "${streamexample/gst-launch-1.0 -q/gst-launch-1.0}" >stream.log 2>&1 || fail "stream example"
    grep -q "Truncated last G.723.1 frame" stream.log || fail "no warning about the truncated frame: $(cat stream.log)"
    ;;
live)
    # A free port instead of the examples' 5004 (tests may run side by side).
    port=$("$python" -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    frames=150 per=2 frame_bytes=20
    head -c $((frames * frame_bytes)) "$corpus/speech-a.53.bit" >sent.bit

    # receiver NAME LOG: starts the example NAME in the background (pid in
    # $receiver), listening on $port.
    receiver() {
        local pipeline
        pipeline=$(example "$1" | sed "s/port=5004/port=$port/")
        grep -q "port=$port" <<<"$pipeline" || fail "the $1 example does not listen on port 5004"
        bash -c "exec $pipeline" >"$2" 2>&1 &
        receiver=$!
    }
    # stop LOG: ends the receiver as Ctrl-C would, once the jitterbuffer
    # has let the last packet through.
    stop() {
        sleep 1
        kill -INT "$receiver"
        local status=0
        wait "$receiver" || status=$?
        [ "$status" -eq 0 ] || { cat "$1"; fail "gst-launch-1.0 ended with status $status"; }
        # (autoaudiosink warns about each audio output it cannot open on
        # a machine without sound.)
        if grep -E 'ERROR|WARNING' "$1" | grep -v GstAutoAudioSink; then
            fail "gst-launch-1.0 reported a problem"
        fi
    }

    # Playing: runs and stops cleanly.
    receiver live-play play.log
    "$python" "$here/rtp_sender.py" sent.bit $frame_bytes "$port" $per 20 "" play.mask || fail "sender"
    stop play.log

    # Recording, with single and double packet losses: the WAV file holds
    # every frame, the lost ones concealed as `mervox decode --loss` does.
    receiver live-record record.log
    "$python" "$here/rtp_sender.py" sent.bit $frame_bytes "$port" $per $((frames / per)) "3,17,18,40,41,42,60" \
        loss.mask || fail "sender"
    stop record.log
    "$mervox" -q decode sent.bit --loss loss.mask -o expected.wav || fail "mervox decode"
    same_samples live.wav expected.wav "$frames" || fail "live recording"
    ;;
install)
    "$cmake" -E env DESTDIR="$work/root" "$cmake" --install "$build" --component gstreamer >install.log \
        || fail "cmake --install --component gstreamer"
    installed=$work/root$pluginsdir/libgstmervox.so
    files=$(cd root && find . -type f)
    [ "$files" = ".$pluginsdir/libgstmervox.so" ] || fail "component gstreamer installs: $files"
    if readelf -d "$installed" | grep -q 'NEEDED.*libmervox'; then fail "the plugin needs libmervox.so"; fi
    exported=$(nm -D --defined-only "$installed" | awk '{ print $3 }' | sort | tr '\n' ' ')
    [ "$exported" = "gst_plugin_mervox_get_desc gst_plugin_mervox_register " ] \
        || fail "the plugin exports more than its entry points: $exported"
    # Found where it was installed, by a registry that knows nothing else.
    found=$(GST_PLUGIN_PATH="$work/root$pluginsdir" GST_PLUGIN_PATH_1_0="$work/root$pluginsdir" \
            GST_PLUGIN_SYSTEM_PATH= GST_PLUGIN_SYSTEM_PATH_1_0= \
            GST_REGISTRY="$work/registry.bin" GST_REGISTRY_1_0="$work/registry.bin" \
            gst-inspect-1.0 mervoxdec) || fail "gst-inspect-1.0 does not find the installed mervoxdec"
    grep -q "Filename *$installed\$" <<<"$found" || fail "mervoxdec is not the installed file: $found"
    grep -q 'Long-name *G.723.1 audio decoder' <<<"$found" || fail "gst-inspect-1.0 mervoxdec: $found"
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
echo "OK: $mode"
