#!/usr/bin/env bash
# The cheap form of the reproducibility check, run in every suite: the zip
# writer makes the same bytes from the same inputs in two folders of
# different depth, with different file times, at different moments, and
# every entry has the one fixed time, in name order. (scripts/package
# --check-reproducible builds the whole release twice.)
#   check_zip_reproducible.sh SOURCE_DIR DLL KQHOST
set -euo pipefail
source_dir=$1 dll=$2 kqhost=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/kq-zip-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=1700000000  # 2023-11-14 22:13:20 UTC
name=KalvixQuad-ORVANE-0.0.0-win32

make_zip() {  # folder, time for every input file
  local src=$1/src
  mkdir -p "$src/docs" "$src/examples" "$src/packaging" "$1/bin"
  cp "$source_dir/docs/actions.md" "$source_dir/docs/host.md" "$src/docs/"
  cp "$source_dir/examples/demo.kq" "$src/examples/"
  cp "$source_dir/packaging/INSTALL.txt.in" "$src/packaging/"
  cp "$dll" "$kqhost" "$1/bin/"
  find "$1" -type f -exec touch -d "$2" {} +
  python3 "$source_dir/packaging/make_package.py" --source "$src" --dll "$1/bin/$(basename "$dll")" \
    --kqhost "$1/bin/$(basename "$kqhost")" --name "$name" --version 0.0.0 --arch win32 --out "$1/out.zip"
}
make_zip "$work/a" "2001-02-03 04:05:06"
sleep 2  # past the zip format's 2 s time resolution
make_zip "$work/b/deeper/folder" "now"

fail=0
a=$(sha256sum <"$work/a/out.zip" | cut -d' ' -f1)
b=$(sha256sum <"$work/b/deeper/folder/out.zip" | cut -d' ' -f1)
echo "first:  $a"
echo "second: $b"
[ "$a" = "$b" ] || { echo "the two zips differ"; fail=1; }

listing=$(TZ=UTC zipinfo -T "$work/a/out.zip" | grep "^-")
times=$(awk '{print $7}' <<<"$listing" | sort -u)
[ "$times" = 20231114.221320 ] || { echo "entry times are not all SOURCE_DATE_EPOCH: $(echo $times)"; fail=1; }
names=$(awk '{print $NF}' <<<"$listing")
[ "$names" = "$(LC_ALL=C sort <<<"$names")" ] || { echo "entries are not in name order:"; echo "$names"; fail=1; }
[ "$(wc -l <<<"$names")" = 6 ] || { echo "expected 6 entries:"; echo "$names"; fail=1; }
exit $fail
