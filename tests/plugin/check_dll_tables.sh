#!/usr/bin/env bash
# Reads a plug-in DLL's export and import tables with the mingw binutils, so
# it checks the ABI of either build on any machine, whether or not the
# machine can run it. Fails on an extra or decorated export, a wrong module
# name, or an import that is not a system DLL; for the x86 build also on an
# export that does not remove exactly its own arguments (its `ret`
# immediate), which a host relies on and which no x64 build has.
set -euo pipefail
dll="$1"

# The PE header's machine field: 014c x86, 8664 x86-64.
offset=$(od -An -tu4 -j60 -N4 "$dll" | tr -d ' ')
machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$dll" | tr -d ' ')
case "$machine" in
  014c) arch=x86; objdump="${OBJDUMP:-i686-w64-mingw32-objdump}" ;;
  8664) arch=x64; objdump="${OBJDUMP:-x86_64-w64-mingw32-objdump}" ;;
  *) echo "$dll: not a PE image of x86 or x86-64 (machine '$machine')"; exit 1 ;;
esac
dump=$("$objdump" -p "$dll")
fail=0

module=$(sed -n 's/^Name[[:space:]]*[0-9a-f]* \(.*\)$/\1/p' <<<"$dump" | head -n1)
if [ "$module" != "KalvixQuad_ORVANE_PRECISION.dll" ]; then
  echo "export directory names the module '$module'"; fail=1
fi

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1;next} on && /^\t\[/{print $3;next} on{on=0}' <<<"$dump" | sort)
expected=$(printf '%s\n' _nbEditAction _nbExecAction _nbInitPlugIn _nbMessage _nbRegisterPlugIn | sort)
if [ "$exports" != "$expected" ]; then
  echo "exports differ:"; diff <(echo "$expected") <(echo "$exports") || true; fail=1
fi

imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'a-z' 'A-Z' | sort -u)
for imp in $imports; do
  case "$imp" in
    KERNEL32.DLL|WINMM.DLL|MSVCRT.DLL) ;;
    *) echo "imports a non-system DLL: $imp"; fail=1 ;;
  esac
done
echo "architecture: $arch"
echo "module: $module"
echo "exports: $(echo $exports)"
echo "imports: $(echo $imports)"

if [ "$arch" = x86 ]; then
  # Each export's code, from its address in the export table up to the next
  # function (or, in a stripped image, its first return): every `ret` must
  # remove the bytes of the export's own arguments.
  base=$(sed -n 's/^ImageBase[[:space:]]*//p' <<<"$dump")
  names=($(awk '/\[Ordinal\/Name Pointer\] Table/{on=1;next} on && /^\t\[/{print $3;next} on{on=0}' <<<"$dump"))
  rvas=($(awk '/Export Address Table -- Ordinal Base/{on=1;next} on && /Export RVA/{print $(NF-2);next} on && /^$/{on=0}' <<<"$dump"))
  ordinals=($(awk '/\[Ordinal\/Name Pointer\] Table/{on=1;next} on && /^\t\[/{gsub(/[][]/,"",$2); print $2;next} on{on=0}' <<<"$dump"))
  declare -A argBytes=([_nbInitPlugIn]=16 [_nbRegisterPlugIn]=16 [_nbExecAction]=8 [_nbEditAction]=0 [_nbMessage]=8)
  for i in "${!names[@]}"; do
    name=${names[$i]}
    [ -n "${argBytes[$name]+x}" ] || continue
    rva=${rvas[${ordinals[$i]}]}
    start=$((0x$base + 0x$rva))
    code=$("$objdump" -d --no-show-raw-insn --start-address=$start --stop-address=$((start + 4096)) "$dll")
    body=$(awk '/^[0-9a-f]+ <.*>:$/ { if ($2 ~ /^<\.text/) next; if (seen) exit; seen = 1; next }
                /\tret/ { print; if (!seen) exit }' <<<"$code")
    rets=$(awk -F'\t' '{print $2}' <<<"$body" | sed 's/[[:space:]]*$//' | sort -u)
    if [ "${argBytes[$name]}" = 0 ]; then want="ret"; else want=$(printf 'ret    $0x%x' "${argBytes[$name]}"); fi
    if [ -z "$rets" ]; then
      echo "$name: no return found"; fail=1
    elif [ "$rets" != "$want" ]; then
      echo "$name removes the wrong number of argument bytes: $(echo $rets) (want: $want)"; fail=1
    else
      echo "$name: $want"
    fi
  done
fi
exit $fail
