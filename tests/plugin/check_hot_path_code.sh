#!/usr/bin/env bash
# Disassembles the synthesis in the DLL and fails on any x87 instruction but
# the loads and stores that move doubles in and out of calls (the 32-bit ABI
# returns a double in st(0)) and convert a 64-bit count. x87 arithmetic would
# round in extended precision, and even an exact one such as fabs costs a
# round trip through memory on every sample.
set -euo pipefail
dll="$1"
objdump="${OBJDUMP:-i686-w64-mingw32-objdump}"
asm=$("$objdump" -d --no-show-raw-insn "$dll")
fail=0
for fn in __Z10FillBufferPvi __ZN19precise_sine_detail15RefineReductionEddRdS0_; do
  body=$(awk -v want="<$fn>:" '$2 == want {on=1; next} on && /^[0-9a-f]+ </ {exit} on' <<<"$asm")
  if [ -z "$body" ]; then
    echo "$fn not found in $dll"; fail=1; continue
  fi
  bad=$(awk -F'\t' 'NF >= 2 {split($2, w, " "); if (w[1] ~ /^f/ && w[1] !~ /^(fldl?|fildl?l?|fstl?|fstpl?)$/) print}' <<<"$body")
  if [ -n "$bad" ]; then
    echo "$fn uses the x87 unit for more than moving values:"; echo "$bad"; fail=1
  else
    echo "$fn: x87 only for moves ($(grep -c . <<<"$body") lines checked)"
  fi
done
exit $fail
