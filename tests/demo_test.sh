#!/usr/bin/env bash
# The demo script's batch run finds every word it wrote and leaves nothing behind.
#   demo_test.sh TOOL
set -uo pipefail
[ "$(id -u)" -eq 0 ] && [ -e /dev/loop-control ] || { echo "SKIP: needs root and loop devices"; exit 77; }
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

FILLSCAN_TOOL=$1 bash "$here/../scripts/demo.sh" --batch "$out/map.png" > "$out/stdout" 2> "$out/stderr"
status=$?
cat "$out/stdout" "$out/stderr"
fail() { echo "FAIL: $*"; exit 1; }
[ "$status" -eq 0 ] || fail "demo.sh exited with $status"
read -r _ _ image _ loop _ _ volume < <(grep '^demo: image ' "$out/stderr")
[ -n "${image:-}" ] && [ -n "${loop:-}" ] && [ -n "${volume:-}" ] || fail "demo.sh did not say what it made"
grep -q '^Данные целы: все .* лежат на носителе на своих местах\.$' "$out/stdout" || fail "the verdict is not intact"
[ -s "$out/map.png" ] || fail "no map written"
losetup -a | grep -qF "$image" && fail "$loop still attached to $image"
findmnt "$volume" > /dev/null && fail "$volume still mounted"
[ -e "$(dirname "$image")" ] && fail "$(dirname "$image") left behind"
echo "PASS: demo found every word and cleaned up $image, $loop, $volume"
