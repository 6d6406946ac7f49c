#!/usr/bin/env bash
# `kqhost --version` under Wine: exit status 0 and exactly one line naming
# the version and the architecture.
#   check_kqhost_version.sh KQHOST VERSION BITS
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kqhost=$1 version=$2 bits=$3
status=0
out=$("$here/../../cmake/wine-run" "$kqhost" --version) || status=$?
out=${out//$'\r'/}
want="kqhost $version (Kalvix Quad ORVANE, $bits-bit)"
echo "$out"
[ "$status" = 0 ] || { echo "exit status $status"; exit 1; }
[ "$out" = "$want" ] || { echo "expected: $want"; exit 1; }
