#!/usr/bin/env bash
# The limits the docs state are each defined once in code: every figure a
# page gives must be the named constant's value, in the page's unit. Each row
# of the table below names the constant, the file that defines it (as
# "constexpr TYPE NAME = EXPR;", "#define NAME EXPR" or, for a member's
# default, "TYPE NAME = EXPR;", EXPR made of numbers and other such
# constants), the unit the page states it in, the page, and
# the words around the figure ("{}"), line breaks and runs of spaces in the
# page counting as one space.
#   limits_doc_test.sh SOURCE_DIR
set -euo pipefail
cd "$1"

fail() { echo "FAIL: $*" >&2; exit 1; }

# The value of constant $1 as defined in file $2 ("Struct::member": the
# default of a member, "TYPE member = EXPR;").
value() {
    local name=$1 file=$2 expr id where v
    if [[ $name == *::* ]]; then
        expr=$(sed -nE "s/^ *[a-z0-9_:]+ ${name##*::} = ([^;]*);.*$/\1/p" "$file" | head -n 1)
    else
        expr=$(sed -nE "s/^.*constexpr [^=]*[^A-Za-z0-9_]$name = ([^;]*);.*$/\1/p; s/^#define $name ([^ ]*).*$/\1/p" \
            "$file" | head -n 1)
    fi
    [ -n "$expr" ] || fail "$file does not define $name"
    # No digit separators, integer suffixes, casts or namespaces.
    expr=$(sed -E "s/'//g; s/([0-9])u\b/\1/g; s/(static_cast<[a-z0-9_]*>|size_t)//g; s/[{}]//g; s/[a-z_]+:://g" \
        <<<"$expr")
    # shellcheck disable=SC2013  # (names are single words)
    for id in $(grep -oE '\bk[A-Z][A-Za-z0-9]*\b' <<<"$expr" | sort -u); do
        where=$file
        if [ "$id" = "$name" ] || ! grep -qE "constexpr [^=]*[^A-Za-z0-9_]$id = " "$file"; then
            where=$(grep -rlE "constexpr [^=]*[^A-Za-z0-9_]$id = " media | grep -vx "$file" | head -n 1)
            [ -n "$where" ] || fail "$name in $file: no file defines $id"
        fi
        v=$(value "$id" "$where")
        expr=${expr//$id/$v}
    done
    [[ $expr =~ ^[0-9\ \(\)*/+\<-]+$ ]] || fail "$name in $file: cannot evaluate '$expr'"
    echo $((expr))
}

# The figure a page states for value $1 in unit $2.
figure() {
    local scale
    case $2 in
        count | grouped) scale=1 ;;
        frames-s) scale=0.03 ;;        # 30 ms frames
        ticks-s) scale=1/8000 ;;       # RTP timestamp units
        samples-ms) scale=1/8 ;;       # 8 kHz samples
        samples-s) scale=1/8000 ;;
        samples-frames) scale=1/240 ;; # 30 ms frames of 8 kHz samples
        bytes-KB) scale=1/1024 ;;
        bytes-MB) scale=1/1048576 ;;
        seconds-minutes) scale=1/60 ;;
        seconds-hours) scale=1/3600 ;;
        *) fail "unknown unit $2" ;;
    esac
    # (grouped: thousands separated by commas, as in "4,096")
    awk -v v="$1" -v unit="$2" "BEGIN {
        s = sprintf(\"%.10g\", v * $scale)
        for (grouped = \"\"; unit == \"grouped\" && length(s) > 3; s = substr(s, 1, length(s) - 3))
            grouped = \",\" substr(s, length(s) - 2) grouped
        print s grouped }"
}

checked=0
while IFS='|' read -r name file unit page phrase; do
    name=${name// /} file=${file// /} unit=${unit// /} page=${page// /}
    case $name in '' | '#'*) continue ;; esac
    phrase=$(sed -E 's/^ +| +$//g' <<<"$phrase")
    v=$(value "$name" "$file")
    f=$(figure "$v" "$unit")
    want=${phrase//\{\}/$f}
    tr -s ' \t\n' '   ' <"$page" | grep -qF -- "$want" ||
        fail "$page does not say \"$want\": $name in $file is $v"
    checked=$((checked + 1))
done <<'EOF'
# constant                    | defined in                              | unit     | page               | the page's words
kMaxGapFrames                 | media/timeline/stream_timeline.h        | frames-s | doc/captures.md    | timestamp jump of more than {} s either way
kMaxGapFrames                 | media/timeline/stream_timeline.h        | frames-s | doc/captures.md    | forward it gives {} s of lost frames, not hours
kMaxGapFrames                 | media/timeline/stream_timeline.h        | frames-s | doc/captures.md    | (each gap still at most {} s)
kMaxGapFrames                 | media/timeline/stream_timeline.h        | frames-s | doc/captures.md    | a timestamp jump held to {} s
kMaxGapFrames                 | media/timeline/stream_timeline.h        | frames-s | doc/mervox.1.in    | at most {} s a gap
kMaxGapFrames                 | media/timeline/stream_timeline.h        | frames-s | doc/mervox.1.in    | (each gap still at most {} s)
kConcealAllowance             | media/timeline/stream_timeline.h        | frames-s | doc/captures.md    | from then on, {} s of lost frames in all
kConcealAllowance             | media/timeline/stream_timeline.h        | frames-s | doc/mervox.1.in    | in all, {} s plus the smaller of
kConcealAllowance             | media/timeline/stream_timeline.h        | frames-s | README.md          | a stream earns its {} s allowance
kConcealPerRealFrame          | media/timeline/stream_timeline.h        | count    | doc/captures.md    | receives at most {} lost frames per real frame
kConcealPerRealFrame          | media/timeline/stream_timeline.h        | count    | doc/captures.md    | plus the smaller of {} per real frame
kConcealPerRealFrame          | media/timeline/stream_timeline.h        | count    | doc/mervox.1.in    | the smaller of {} frames per real frame
kConcealPerRealFrame          | media/timeline/stream_timeline.h        | count    | README.md          | before that at most {} lost frames per real frame
kRealFramesForAllowance       | media/timeline/stream_timeline.h        | count    | doc/captures.md    | Until it has {} real frames
kRealFramesForAllowance       | media/timeline/stream_timeline.h        | count    | README.md          | allowance with {} real frames
kCaptureConcealPerRealFrame   | media/timeline/stream_timeline.h        | count    | doc/captures.md    | they receive at most {} lost frames
kCaptureConcealPerRealFrame   | media/timeline/stream_timeline.h        | frames-s | doc/captures.md    | lost frames ({} s) per real frame of the capture
kCaptureConcealPerRealFrame   | media/timeline/stream_timeline.h        | count    | README.md          | at most {} concealed frames per real frame of the capture
kReorderWindow                | media/timeline/stream_timeline.h        | count    | doc/captures.md    | in a window of {} packets
kReorderWindow                | media/timeline/stream_timeline.h        | count    | doc/captures.md    | its reordering window (up to {} packets)
kReorderWindow                | media/timeline/stream_timeline.h        | count    | doc/mervox.1.in    | window of {} packets
kSequenceJump                 | media/timeline/stream_timeline.h        | count    | doc/captures.md    | sequence number by more than {} either way
kStrayTicks                   | media/timeline/stream_timeline.h        | ticks-s  | doc/captures.md    | more than {} s off both of its neighbours
kEnvelopeSamples              | media/timeline/arrival_anchors.h        | samples-s | doc/captures.md   | (arrival time − RTP time) over the last {} s of its packets
kEnvelopeSamples              | media/timeline/arrival_anchors.h        | samples-s | doc/captures.md   | stays within 20 ms of its new value for {} s
kMoveSamples                  | media/timeline/arrival_anchors.h        | samples-ms | doc/captures.md  | only when the envelope moves by more than {} ms
kMoveSamples                  | media/timeline/arrival_anchors.h        | samples-ms | doc/design.md    | that envelope moves by more than {} ms for good
kMoveSamples                  | media/timeline/arrival_anchors.h        | samples-ms | doc/mervox.1.in  | arrivals moves by more than {} ms for good
kSettleSamples                | media/timeline/arrival_anchors.h        | samples-ms | doc/captures.md  | then stays within {} ms of its new value
kForceSamples                 | media/timeline/arrival_anchors.h        | samples-ms | doc/captures.md  | no pause comes before the move reaches {} ms
kMinPauseSamples              | media/timeline/arrival_anchors.h        | samples-ms | doc/captures.md  | untransmitted or lost frames of at least {} ms
kMinPauseSamples              | media/timeline/arrival_anchors.h        | samples-ms | doc/captures.md  | at least two frames ({} ms) of decoded audio
kMaxAnchors                   | media/timeline/arrival_anchors.h        | count    | doc/captures.md    | records at most {} re-anchorings
kMaxSilenceSamples            | media/calls/call_audio.h                | samples-s | doc/captures.md   | for more than {} s, the recording keeps the first {} s of that silence
kSilencePerRealFrame          | media/calls/call_audio.h                | samples-frames | doc/captures.md | keeps at most {} frames
kSilencePerRealFrame          | media/calls/call_audio.h                | samples-s | doc/captures.md   | ({} s) of such silence per real frame
kSilencePerRealFrame          | media/calls/call_audio.h                | samples-frames | doc/captures.md | ({} frames per real frame of its streams, below: Silence)
kConfirmPackets               | media/capture/capture.h                 | count    | doc/captures.md    | only after {} packets whose payloads are whole frames
kConfirmPackets               | media/capture/capture.h                 | count    | doc/mervox.1.in    | a stream after {} packets of whole G.723.1 frames
kConfirmSpan                  | media/capture/capture.h                 | count    | doc/captures.md    | distinct sequence numbers at most {} apart
kStreamIdleSeconds            | media/capture/capture.h                 | seconds-minutes | doc/captures.md | comes back after {} minutes (capture time)
kStreamIdleSeconds            | media/capture/capture.h                 | seconds-minutes | doc/captures.md | splits after {} minutes without packets
kMediaLeadSeconds             | media/signalling/stream_owner.h         | count    | doc/captures.md    | no later than {} s after its first packet, that had not ended {} s before that packet
kMediaLeadSeconds             | media/signalling/stream_owner.h         | count    | doc/captures.md    | answered (18x or 2xx) no later than {} s after that packet
kCallIdleSeconds              | media/signalling/stream_owner.h         | count    | doc/captures.md    | nor gone {} s without a message or a packet of its streams
kDefaultHeldBytesEach         | media/output/output_pool.h              | bytes-KB | doc/captures.md    | until it has {} KB of them
kDefaultHeldBytesEach         | media/output/output_pool.h              | bytes-KB | doc/captures.md    | has gathered {} KB again
kDefaultHeldBytesEach         | media/output/output_pool.h              | bytes-KB | doc/captures.md    | up to {} KB of waiting samples
kDefaultHeldBytesEach         | media/output/output_pool.h              | bytes-KB | README.md          | up to {} KB of samples in memory
kDefaultOpenFiles             | media/output/output_pool.h              | count    | doc/captures.md    | At most {} files are open at once
kDefaultOpenFiles             | media/output/output_pool.h              | count    | README.md          | at most {} files open at once
kDefaultOpenFiles             | media/output/output_pool.h              | count    | doc/performance.md | at most {} open outputs
kDefaultHeldBytes             | media/output/output_pool.h              | bytes-MB | doc/captures.md    | the samples waiting in memory total at most {} MB
kDefaultHeldBytes             | media/output/output_pool.h              | bytes-MB | doc/captures.md    | at most {} MB of waiting samples
kDefaultHeldBytes             | media/output/output_pool.h              | bytes-MB | doc/performance.md | and {} MB of samples waiting
kBufferBytes                  | media/output/pcm_sink.cpp               | bytes-KB | doc/captures.md    | ({} KB per open file)
kSpareDescriptors             | tools/mervox/pcap_command.cpp           | count    | doc/captures.md    | leaves less than that and {} more
Limits::sourceBytes           | media/packets/ip_reassembly.h           | bytes-KB | doc/captures.md    | one source address hold at most {} KB
Limits::bytes                 | media/packets/ip_reassembly.h           | bytes-MB | doc/captures.md    | and all of them {} MB
kDatagramOverhead             | media/packets/ip_reassembly.h           | count    | doc/captures.md    | each counted with {} bytes for its bookkeeping
kMaxSeconds                   | media/packets/ip_reassembly.h           | count    | doc/captures.md    | do not all come within {} s of capture time
kPcapMaxRecordBytes           | media/records/pcap_reader.h             | bytes-KB | doc/captures.md    | claims more than {} KiB of captured bytes
kMaxFieldBytes                | media/signalling/sip_text.h             | count    | doc/captures.md    | fields are cut to {} bytes
kMaxMessageBytes              | media/signalling/sip_message.h          | bytes-KB | doc/captures.md    | messages beyond {} KB are skipped
kMaxSdpMedia                  | media/signalling/sdp.h                  | count    | doc/captures.md    | SDP keeps {} media lines
kMaxDialogs                   | media/signalling/sip_dialogs.h          | count    | doc/captures.md    | {} calls held at once
kMaxOpenDialogs               | media/signalling/sip_dialogs.h          | count    | doc/captures.md    | {} open at once (the one idle longest is closed
kMaxLegs                      | media/signalling/sip_dialogs.h          | count    | doc/captures.md    | {} dialogs and
kMaxDialogMedia               | media/signalling/sip_dialogs.h          | count    | doc/captures.md    | {} SDP audio lines per call
kMaxNamings                   | media/signalling/sip_dialogs.h          | count    | doc/captures.md    | {} calls remembered per media address
kEndedDialogSeconds           | media/signalling/sip_dialogs.h          | count    | doc/captures.md    | a call closed {} s after its end
kDialogIdleSeconds            | media/signalling/sip_dialogs.h          | seconds-hours | doc/captures.md | or after {} h without a message
kMaxTcpDirections             | media/signalling/tcp_reassembly.h       | count    | doc/captures.md    | {} directions of TCP connections followed at once
kTcpIdleSeconds               | media/signalling/tcp_reassembly.h       | count    | doc/captures.md    | one idle for {} s is forgotten
kMaxTcpBufferedBytes          | media/signalling/tcp_reassembly.h       | bytes-MB | doc/captures.md    | message, {} MB for all of them
kMaxTcpBufferedBytes          | media/signalling/tcp_reassembly.h       | bytes-MB | doc/captures.md    | and beyond {} MB the one idle longest
kSeriesBuckets                | media/quality/stream_series.h           | count    | doc/captures.md    | one second each, at most {} per stream
kMaxTableRows                 | media/report/html_report.h              | count    | doc/captures.md    | the table lists up to {} calls
kDrawnCalls                   | media/report/html_report.h              | count    | doc/captures.md    | drawings go to the {} calls with the lowest MOS
kMaxPageBytes                 | media/report/html_report.h              | bytes-MB | doc/captures.md    | no page exceeds {} MiB
kShownCharacters              | media/report/html_report.cpp            | count    | doc/captures.md    | Parties and Call-IDs are shown cut to {} characters
kDrawnStreams                 | media/report/call_charts.h              | count    | doc/captures.md    | a call draws at most {} streams per direction
kTextBytes                    | media/stream/input_signature.h          | count    | doc/command.md     | {} bytes (or all of a shorter input) of printable ASCII
kTextBytes                    | media/stream/input_signature.h          | count    | doc/python.md      | or {} bytes of text
kSignatureBytes               | media/stream/input_signature.h          | count    | doc/command.md     | waits for the first {} bytes
kFramesPerStopCheck           | media/base/stop_check.h                 | grouped  | doc/python.md      | within {} frames
kFramesPerStopCheck           | media/base/stop_check.h                 | grouped  | doc/python.md      | Ctrl-C: every {} frames
kBatchItems                   | media/recorder/stream_decoding.cpp      | count    | doc/design.md      | which gathers {} frames and then decodes them
kLanes                        | media/decode/slot_decoder.h             | count    | doc/design.md      | each of up to {} of its streams
MERVOX_WIRESHARK_MAX_FRAMES_PER_PAYLOAD | plugins/wireshark/g723_codec.h | count  | doc/wireshark.md   | A packet yields at most {} frames
MERVOX_WIRESHARK_MAX_FRAMES_PER_PAYLOAD | plugins/wireshark/g723_codec.h | frames-s | doc/wireshark.md | frames ({} s of audio)
MERVOX_WIRESHARK_MAX_FRAMES_PER_PAYLOAD | plugins/wireshark/g723_codec.h | count  | doc/wireshark.md   | up to {} per packet
MERVOX_WIRESHARK_MAX_FRAMES_PER_PAYLOAD | plugins/wireshark/g723_codec.h | count  | README.md          | in the Wireshark plugin, at most {} frames
MAX_GAP_FRAMES                | plugins/gstreamer/gstmervoxdec.c        | frames-s | doc/gstreamer.md   | a gap gives at most {} s of concealment
MAX_GAP_FRAMES                | plugins/gstreamer/gstmervoxdec.c        | count    | doc/gstreamer.md   | ({} frames, as in `mervox pcap`)
MAX_GAP_FRAMES                | plugins/gstreamer/gstmervoxdec.c        | frames-s | doc/gstreamer.md   | the {} s bound on a gap
MAX_OUTPUT_FRAMES             | plugins/gstreamer/gstmervoxdec.c        | count    | doc/gstreamer.md   | Output buffers hold at most {} frames
MAX_OUTPUT_FRAMES             | plugins/gstreamer/gstmervoxdec.c        | frames-s | doc/gstreamer.md   | frames ({} s, 48,000 bytes)
MAX_OUTPUT_FRAMES             | plugins/gstreamer/gstmervoxdec.c        | count    | doc/gstreamer.md   | pushed in pieces of {}
MAX_OUTPUT_FRAMES             | plugins/gstreamer/gstmervoxdec.c        | count    | doc/gstreamer.md   | the {}-frame bound on output buffers
EOF
echo "the docs state $checked figures of the limits as the code defines them"
