#!/usr/bin/env bash
# Makes the README's pictures of the desktop use under Xvfb at 1366x768 with openbox: a
# loop-backed 1 GiB "stick" (an MBR, exFAT on its partition, mounted), the window as it opens
# (docs/window.png), the check a new user makes from the chooser's «Проверить» to the removal
# of the fill, a picture of each step (docs/check-*.png), and what the menu entry shows where
# pkexec cannot start the tool (docs/root.png). Undoes everything it made, by exact name and PID.
#   sudo scripts/desktop-shots.sh          (after a build; needs xvfb, openbox, exfat-fuse, pngcrush)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "desktop-shots.sh: needs root (loop devices, mount)" >&2; exit 1; }
cmake --build "$top/build" --target fillscan fillscan_desktop_shots > /dev/null

work=$(mktemp -d /tmp/fillscan-desktop.XXXXXX)
loop="" mounted="" xvfb="" wm="" box=""
cleanup() {
    set +e
    [ -n "$box" ] && kill "$box"
    [ -n "$wm" ] && kill "$wm"
    [ -n "$xvfb" ] && kill "$xvfb"
    [ -n "$mounted" ] && umount "$mounted"
    [ -n "$loop" ] && losetup -d "$loop"
    rm -rf "$work"
}
trap cleanup EXIT

truncate -s 1G "$work/stick.img"
printf 'label: dos\nstart=2048, type=7\n' | sfdisk -q "$work/stick.img"
loop=$(losetup --show -f -P "$work/stick.img")
for _ in $(seq 50); do [ -b "${loop}p1" ] && break; partx -a "$loop" 2> /dev/null || true; sleep 0.1; done
mkfs.exfat -n STICK "${loop}p1" > /dev/null
mkdir -p "$work/STICK"
mount -t exfat-fuse "${loop}p1" "$work/STICK"
mounted=$work/STICK
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime
Xvfb :48 -screen 0 1366x768x24 -nolisten tcp &
xvfb=$!
sleep 1
DISPLAY=:48 openbox &
wm=$!
sleep 1
shots=$top/build/fillscan_desktop_shots
DISPLAY=:48 "$shots" window "$loop" "$work/STICK/" "$work/window.png"
DISPLAY=:48 "$shots" check "${loop}p1" "$work"
# The launcher where pkexec cannot start the tool (run without root: as the menu would be).
runuser -u nobody -- env DISPLAY=:48 XDG_RUNTIME_DIR= "$top/build/fillscan" --explain-root \
    "pkexec не смог получить права (нет агента polkit или системной шины D-Bus)" 2> /dev/null &
box=$!
sleep 2
DISPLAY=:48 import -window root "$work/root.png"
kill "$box"
wait "$box" || true
box=""
rm -f "$top"/docs/check-*.png
for shot in "$work"/window.png "$work"/root.png "$work"/check-*.png; do
    pngcrush -q "$shot" "$top/docs/$(basename "$shot")" > /dev/null 2>&1 || cp "$shot" "$top/docs/"
done
echo "desktop-shots.sh: wrote docs/window.png, docs/check-*.png and docs/root.png"
