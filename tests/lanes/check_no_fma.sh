#!/bin/bash
# The library's machine code must hold no fused multiply-add (it rounds
# once where the decoder rounds twice), in any lane kernel. Also checks that
# the wide kernels are really there, so that the check cannot pass on a
# library that lacks them.
#   check_no_fma.sh OBJDUMP LIBRARY
set -euo pipefail
objdump=$1
library=$2
code=$("$objdump" -d --no-show-raw-insn "$library")
fused=$(grep -E '\bv?f(n)?m(add|sub|addsub|subadd)[0-9]*[a-z]*\b' <<<"$code" || true)
if [[ -n $fused ]]; then
  echo "fused multiply-add instructions in $library:"
  head -20 <<<"$fused"
  exit 1
fi
if [[ $(uname -m) == x86_64 ]]; then
  for reg in ymm zmm; do
    if ! grep -q "%$reg" <<<"$code"; then
      echo "no $reg instructions in $library: a wide lane kernel is missing"
      exit 1
    fi
  done
fi
echo "no fused multiply-add in $(grep -c . <<<"$code") lines of machine code"
