#!/usr/bin/env bash
# The tool and f3 (f3write, then f3read) side by side on the same emulated media: what each
# concludes and how long it takes. Each medium announces 512 MiB; it is served by nbdkit
# (tests/fake_medium.c) through nbdfuse, attached with direct I/O, and gets a fresh ext4
# (without a journal, which would lie where a fake medium loses it) for each program.
#   sudo bench/media.sh        (after scripts/test.sh has built the tool and the plugin)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tool=${FILLSCAN_TOOL:-$here/../build/fillscan}
plugin=$here/../build/tests/fake_medium.so
[ "$(id -u)" -eq 0 ] || { echo "media.sh: needs root" >&2; exit 1; }
[ -x "$tool" ] && [ -f "$plugin" ] || { echo "media.sh: build the tool and the plugin first (scripts/test.sh)" >&2; exit 1; }
command -v f3write > /dev/null && command -v jq > /dev/null || {
    apt-get update > /dev/null
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends f3 jq > /dev/null
}

work=$(mktemp -d /tmp/fillscan-media.XXXXXX)
source "$here/../scripts/fake-medium.sh"
cleanup() { set +e; medium_detach; rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 130' INT TERM
seconds() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }'; }

printf '%-34s | %-44s %7s | %-44s %7s\n' medium "fillscan verdict (usable)" "s" "f3 verdict" "s"
for medium in "healthy 512M" "limit 192M" "wrap 320M"; do
    read -r mode keep <<< "$medium"
    medium_attach "$mode" "$keep"
    start=$(date +%s.%N)
    status=0
    out=$("$tool" --device "$loop" --volume "$work/volume" --batch poll,fill,read --json --quiet | tail -n 1) || status=$?
    tool_s=$(seconds "$start")
    verdict=$(jq -r '"\(.verdict) (\(.usable_bytes / 1048576 | floor) MiB), exit '"$status"'"' <<< "$out")
    medium_detach
    medium_attach "$mode" "$keep"
    start=$(date +%s.%N)
    f3write "$work/volume" > /dev/null 2>&1 || true
    sync
    echo 3 > /proc/sys/vm/drop_caches
    f3=$(f3read "$work/volume" 2>&1 | awk '/Data OK:/ { ok = $3 $4 } /Data LOST:/ { lost = $3 $4 } END { print "OK " ok ", LOST " lost (ok lost == "0.00Byte0.00Byte" ? " (no file readable)" : "") }')
    f3_s=$(seconds "$start")
    medium_detach
    printf '%-34s | %-44s %7s | %-44s %7s\n' "512 MiB announced, $mode $keep" "$verdict" "$tool_s" "$f3" "$f3_s"
done
