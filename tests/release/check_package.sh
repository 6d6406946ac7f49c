#!/usr/bin/env bash
# A release zip as a user gets it: exactly the expected files under one top
# folder, the DLL and kqhost byte for byte the ones the test suite ran
# (stripped, their debug information not in the zip), a DLL that still has
# exactly the five exports and only system imports, guides whose links all
# lead to files inside the zip, and the install note of this version. Leaves
# the zip extracted in EXTRACT_DIR for the tests that run the packaged kqhost.
#   check_package.sh ZIP NAME VERSION BIN_DIR EXTRACT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
zip=$1 name=$2 version=$3 bin=$4 extract=$5
fail=0

echo "== $(basename "$zip")"
listing=$(zipinfo -1 "$zip")
echo "$listing"
expected=$(printf "$name/%s\n" INSTALL.txt KalvixQuad_ORVANE_PRECISION.dll docs/actions.html docs/host.html \
  examples/demo.kq kqhost.exe)
if [ "$listing" != "$expected" ]; then
  echo "the zip does not hold exactly the expected files:"; diff <(echo "$expected") <(echo "$listing") || true
  fail=1
fi

rm -rf "$extract"
mkdir -p "$extract"
unzip -q "$zip" -d "$extract"
top=$extract/$name

for f in KalvixQuad_ORVANE_PRECISION.dll kqhost.exe; do
  [ -f "$top/$f" ] || continue
  if cmp -s "$top/$f" "$bin/$f"; then
    echo "$f: the tested file ($(sha256sum <"$top/$f" | cut -c1-16)...)"
  else
    echo "$f differs from $bin/$f, the file the suite ran"; fail=1
  fi
  sections=$(x86_64-w64-mingw32-objdump -h "$top/$f" | awk '$2 ~ /^\.debug_/ {print $2}')
  symbols=$(x86_64-w64-mingw32-objdump -t "$top/$f" | grep -c '^\[' || true)
  if [ -n "$sections" ] || [ "$symbols" != 0 ]; then
    echo "$f is not stripped: $symbols symbols, sections $(echo $sections)"; fail=1
  fi
  if ! grep -qaF "$f.debug" "$top/$f" || [ ! -f "$bin/$f.debug" ]; then
    echo "$f does not name its debug file $f.debug, or the build has none"; fail=1
  fi
done

echo "== tables of the packaged DLL"
"$here/../plugin/check_dll_tables.sh" "$top/KalvixQuad_ORVANE_PRECISION.dll" || fail=1

echo "== links of the packaged guides"
links=0
for page in "$top"/docs/*.html; do
  for target in $(grep -oE '(href|src)="[^"]*"' "$page" | sed -E 's/^[a-z]+="(.*)"$/\1/'); do
    case "$target" in
      [a-zA-Z]*:*|'#'*) continue ;;
    esac
    links=$((links + 1))
    if [ ! -f "$(dirname "$page")/${target%%#*}" ]; then
      echo "${page#"$top"/}: link to $target leads outside the package"; fail=1
    fi
  done
done
echo "$links links between packaged files checked"
[ "$links" -gt 0 ] || { echo "the guides link to none of each other"; fail=1; }

grep -q "Kalvix Quad ORVANE $version," "$top/INSTALL.txt" || { echo "INSTALL.txt does not name version $version"; fail=1; }
exit $fail
