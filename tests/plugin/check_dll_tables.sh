#!/usr/bin/env bash
# Reads the DLL's export and import tables and fails on an extra or decorated
# export, a wrong module name, or an import that is not a system DLL.
set -euo pipefail
dll="$1"
objdump="${OBJDUMP:-i686-w64-mingw32-objdump}"
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
echo "module: $module"
echo "exports: $(echo $exports)"
echo "imports: $(echo $imports)"
exit $fail
