#!/bin/bash
# The decoder's instruction counts (callgrind) in the two functions of
# mervox_instruction_counts: Decode (one decoder, frame by frame) and
# DecodeMany (16 decoders, one batch call a frame).
#   bench/instruction_counts.sh BUILD_DIR [VARIANT]
# (VARIANT: scalar, sse2, avx2; without, the public calls' own choice.)
# Valgrind does not run AVX-512 code: under it the processor check finds
# AVX2 at most, so the wide paths counted are the AVX2 ones.
set -euo pipefail
driver=$1/bench/mervox_instruction_counts
variant=${2:-}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for mode in decode many; do
  function=CountDecode
  [[ $mode == many ]] && function=CountDecodeMany
  valgrind --tool=callgrind --callgrind-out-file="$out/$mode" --toggle-collect="mervox::bench::$function(*" \
    "$driver" "$mode" $variant 2>/dev/null
  frames=$("$driver" "$mode" $variant | sed -E 's/.*: ([0-9]+) frames.*/\1/')
  total=$(callgrind_annotate "$out/$mode" | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }')
  echo "$function: $total instructions, $((total / frames)) a frame"
done
