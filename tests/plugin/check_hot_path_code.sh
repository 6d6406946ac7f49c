#!/usr/bin/env bash
# Disassembles the synthesis in the DLL (32-bit or 64-bit) and fails on:
# - x87 instructions. The 64-bit DLL has none at all; the 32-bit one only the
#   loads and stores that move doubles in and out of calls (its ABI returns a
#   double in st(0)) and convert a 64-bit count. x87 arithmetic would round
#   in extended precision, and even an exact one such as fabs costs a round
#   trip through memory on every sample.
# - a call or tail jump to anything but the synthesis itself, the exact
#   remainder and the sine's out-of-line parts: nothing from the C library's
#   math (sin, fmod, frexp, ...), no stack probe, no call through a pointer.
# - a fused multiply-add, which rounds once where the formula rounds twice.
# - in the 64-bit DLL, an aligned 32-byte move to or from the stack: that
#   ABI keeps the stack aligned to 16 bytes only.
# The synthesis is FillBuffer, FillBufferWith, everything in
# synthesis_detail (the scalar, SSE2 and AVX kernels) and the sine's
# reduction refinement.
set -euo pipefail
dll="$1"

format=""
for tool in x86_64-w64-mingw32-objdump objdump i686-w64-mingw32-objdump; do
  if command -v "$tool" >/dev/null && format=$("$tool" -f "$dll" 2>/dev/null | sed -n 's/.*file format //p') &&
    [ -n "$format" ]; then
    break
  fi
done
case "$format" in
  pei-i386) objdump="${OBJDUMP:-i686-w64-mingw32-objdump}"; u=_; wide=0 ;;
  pei-x86-64) objdump="${OBJDUMP:-x86_64-w64-mingw32-objdump}"; u=; wide=1 ;;
  *) echo "$dll: not a 32-bit or 64-bit Windows DLL (format '${format}')"; exit 1 ;;
esac

# Symbols as the DLL spells them: 32-bit names carry an extra underscore.
hot="^${u}_Z10FillBufferPvi\$|^${u}_Z14FillBufferWith|^${u}_ZN16synthesis_detail|^${u}_ZN19precise_sine_detail15RefineReduction"
callable="$hot|^${u}_Z14ExactRemainderdd\$|^${u}_ZN19precise_sine_detail8WideSineEd\$"
required=("${u}_Z10FillBufferPvi"
  "${u}_ZN16synthesis_detail4sse210FillPackedERKNS_13SynthesisPlanEPhi"
  "${u}_ZN16synthesis_detail3avx10FillPackedERKNS_13SynthesisPlanEPhi"
  "${u}_ZN19precise_sine_detail15RefineReductionEddRdS0_")

asm=$("$objdump" -d --no-show-raw-insn "$dll")
report=$(awk -v hot="$hot" -v callable="$callable" -v wide="$wide" -F'\t' '
  # A function starts at "address <name>:".
  /^[0-9a-f]+ <.*>:$/ {
    name = $0; sub(/^[0-9a-f]+ </, "", name); sub(/>:$/, "", name)
    checking = (name ~ hot)
    if (checking) { functions[name] = 1; count++ }
    next
  }
  !checking || NF < 2 { next }
  {
    insn = $2; split(insn, w, " "); op = w[1]
    lines++
    if (op ~ /^f/ && (wide || op !~ /^(fldl?|fildl?l?|fstl?|fstpl?)$/)) print "x87 in " name ": " insn
    if (op ~ /^vfn?m(add|sub)/) print "fused multiply-add in " name ": " insn
    if (wide && op ~ /^vmov(ap[sd]|dqa|nt)/ && insn ~ /%ymm/ && insn ~ /\(%r[sb]p/) print "aligned 32-byte stack move in " name ": " insn
    if (op ~ /^(call|j[a-z]+)$/) {
      if (insn ~ /\*/) {
        # Through a pointer: a switch table jump stays inside; a call leaves.
        if (op ~ /^call/) print "call through a pointer in " name ": " insn
      } else if (match(insn, /<[^>]*>/)) {
        target = substr(insn, RSTART + 1, RLENGTH - 2); sub(/\+0x[0-9a-f]+$/, "", target)
        if (target != name && target !~ callable) print "call out of the synthesis in " name ": " insn
      } else if (op ~ /^call/) {
        print "call without a symbol in " name ": " insn
      }
    }
  }
  END {
    for (f in functions) print "checked " f
    print "summary " count " " lines
  }' <<<"$asm")

fail=0
for fn in "${required[@]}"; do
  if ! grep -qxF "checked $fn" <<<"$report"; then
    echo "$fn not found in $dll"; fail=1
  fi
done
if grep -v -e '^checked ' -e '^summary ' <<<"$report"; then
  fail=1
fi
read -r _ functions lines < <(grep '^summary ' <<<"$report")
if [ "$fail" = 0 ]; then
  echo "$format: $functions functions of the synthesis ($lines instructions): no x87 arithmetic$([ "$wide" = 1 ] && echo ' (no x87 at all)'), no call out of the engine, no fused multiply-add"
fi
exit $fail
