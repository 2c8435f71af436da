#!/usr/bin/env bash
# The service's unit as systemd reads it: systemd-analyze verify finds nothing wrong (its program
# and its manual page exist), and the exposure score of systemd-analyze security is no worse than
# the one committed in exposure-threshold.
# usage: unitcheck.sh <source dir> <build dir> <output dir>
set -euo pipefail
src=$1
build=$2
out=$3
rm -rf "$out"
mkdir -p "$out"
unit=$out/tsl-gated.service
sed "s|@TSL_GATED_EXEC@|$build/bin/tsl-gated|" "$src/resources/tsl-gated.service.in" >"$unit"

MANPATH=$build/man systemd-analyze verify "$unit" 2>&1 | tee "$out/verify.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "unitcheck: systemd-analyze verify failed" >&2; exit 1; }
[ ! -s "$out/verify.log" ] || { echo "unitcheck: systemd-analyze verify complained" >&2; exit 1; }

systemd-analyze security --offline=yes --no-pager "$unit" >"$out/security.log" 2>&1 || true
score=$(sed -n 's/.*Overall exposure level for tsl-gated.service: \([0-9.]*\).*/\1/p' "$out/security.log")
threshold=$(grep -v '^#' "$src/tests/service/exposure-threshold")
[ -n "$score" ] || { cat "$out/security.log" >&2; echo "unitcheck: no exposure score" >&2; exit 1; }
echo "unitcheck: exposure $score (threshold $threshold)"
awk -v s="$score" -v t="$threshold" 'BEGIN { exit !(s <= t) }' || {
    grep '✗' "$out/security.log" >&2
    echo "unitcheck: exposure $score is worse than $threshold" >&2
    exit 1
}
