#!/usr/bin/env bash
# The shipped binaries carry nothing of the build's place or time, the things
# that made two builds of one commit differ: no time stamp in the PE header,
# the export directory or the resource directory, and no path of the source
# or build folder (in the binary or in its .debug file beside it).
#   check_release_binaries.sh SOURCE_DIR BINARY_DIR FILE...
set -euo pipefail
source_dir=$1 binary_dir=$2
shift 2
fail=0
for bin in "$@"; do
  for f in "$bin" "$bin.debug"; do
    [ -f "$f" ] || { [ "$f" = "$bin" ] && { echo "$f: missing"; fail=1; }; continue; }
    before=$fail
    offset=$(od -An -tu4 -j60 -N4 "$f" | tr -d ' ')
    case "$(od -An -tx2 -j$((offset + 4)) -N2 "$f" | tr -d ' ')" in
      014c) objdump=i686-w64-mingw32-objdump ;;
      8664) objdump=x86_64-w64-mingw32-objdump ;;
      *) echo "$f: not a PE image"; fail=1; continue ;;
    esac
    stamp=$(od -An -tx4 -j$((offset + 8)) -N4 "$f" | tr -d ' ')
    [ "$stamp" = 00000000 ] || { echo "$f: PE header time stamp $stamp"; fail=1; }
    dump=$("$objdump" -p "$f")
    # Export directory ("Time/Date stamp") and resource tables ("Time: ...").
    stamps=$( { sed -n 's/^Time\/Date stamp[[:space:]]*//p' <<<"$dump"
                grep -o 'Time: [0-9a-f]*' <<<"$dump" | cut -d' ' -f2; } || true)
    for s in $stamps; do
      [ "$((16#$s))" = 0 ] || { echo "$f: directory time stamp $s"; fail=1; }
    done
    for dir in "$source_dir" "$binary_dir"; do
      if grep -qaF "$dir" "$f"; then echo "$f: holds the build path $dir"; fail=1; fi
    done
    [ "$fail" != "$before" ] || echo "$f: no time stamp, no build path ($(wc -w <<<"$stamps") directory stamps checked)"
  done
done
exit $fail
