#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite; fails when any step fails:
#   1. the suite on the normal build, as root (loop devices, mounts, FUSE, nbdkit);
#   2. the Debian package: built with CPack, checked by lintian (no errors), its menu entry
#      validated, then unpacked into a scratch directory (never installed), where the tool is
#      asked for its version and its manual page is formatted without a warning;
#   3. the suite on a build with AddressSanitizer and UndefinedBehaviorSanitizer, as root,
#      then once more as the unprivileged user nobody: tests that need root skip with their
#      reason, the rest must pass.
#   ./scripts/test.sh           all of it (what CI runs)
#   ./scripts/test.sh --quick   only the first
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
    exec sudo "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
# What the tests use: file systems and their FUSE drivers, an emulated medium (nbdkit served
# through nbdfuse, which libnbd-bin holds, partitioned as sticks come with sfdisk), an encrypting
# file system, and the package tools.
"$here/build.sh" fuse3 libfuse3-dev xfsprogs btrfs-progs exfatprogs exfat-fuse ntfs-3g dosfstools fusefat \
    nbdkit nbdkit-plugin-dev libnbd-bin fdisk gocryptfs desktop-file-utils dpkg-dev file lintian man-db

# Scratch directories, removed on exit: the unpacked package and the sanitizer build.
unpacked="" san=""
cleanup() {
    [ -n "$unpacked" ] && rm -rf "$unpacked"
    [ -n "$san" ] && rm -rf "$san"
    return 0
}
trap cleanup EXIT
cd "$top/build"
echo "== tests, normal build, as root"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure
[ "${1:-}" = "--quick" ] && exit 0

echo "== the Debian package"
rm -f fillscan_*.deb fillscan-dbgsym_*.ddeb
cpack -G DEB > /dev/null
deb=$(ls fillscan_*.deb)
lintian --fail-on error "$deb"
desktop-file-validate "$top/packaging/fillscan.desktop"
unpacked=$(mktemp -d /tmp/fillscan-package.XXXXXX)
dpkg-deb -x "$deb" "$unpacked"
version=$("$unpacked/usr/bin/fillscan" --version)
echo "$version"
[ "$version" = "fillscan $(dpkg-deb -f "$deb" Version)" ] ||
    { echo "test.sh: the tool says \"$version\", the package is $(dpkg-deb -f "$deb" Version)" >&2; exit 1; }
# As lintian formats manual pages: any warning fails.
page="$unpacked/usr/share/man/man1/fillscan.1.gz"
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 > /dev/null)
[ -z "$warnings" ] || { echo "test.sh: the manual page: $warnings" >&2; exit 1; }
case $(LC_ALL=C.UTF-8 man -l "$page") in
*"ПАКЕТНЫЙ РЕЖИМ"*) ;;
*) echo "test.sh: the manual page has no section ПАКЕТНЫЙ РЕЖИМ" >&2; exit 1 ;;
esac

# The sanitizer build lives outside the checkout, in a directory nobody can reach too: the
# checkout may sit below a home directory that only root may enter.
san=$(mktemp -d /tmp/fillscan-sanitize.XXXXXX)
chmod 755 "$san"
(cd "$top" && git ls-files -z) | (cd "$top" && xargs -0 cp --parents -t "$san")
cmake -S "$san" -B "$san/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFILLSCAN_SANITIZE=ON > /dev/null
cmake --build "$san/build" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1
echo "== tests, sanitizer build, as root"
(cd "$san/build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure)
echo "== tests, sanitizer build, as nobody"
chown -R nobody "$san"
(cd "$san/build" && runuser -u nobody -- env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS="$ASAN_OPTIONS" \
    UBSAN_OPTIONS="$UBSAN_OPTIONS" HOME="$san" ctest --output-on-failure)
