#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite three ways; fails when a
# test fails:
#   1. the normal build, as root (loop devices, mounts, FUSE);
#   2. a build with AddressSanitizer and UndefinedBehaviorSanitizer, as root;
#   3. that build again as the unprivileged user nobody: tests that need root skip with
#      their reason, the rest must pass.
#   ./scripts/test.sh           all three
#   ./scripts/test.sh --quick   only the first
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
    exec sudo "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
"$here/build.sh"
cd "$top/build"
echo "== tests, normal build, as root"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure
[ "${1:-}" = "--quick" ] && exit 0

# The sanitizer build lives outside the checkout, in a directory nobody can reach too:
# the checkout may sit below a home directory that only root may enter.
san=$(mktemp -d /tmp/fillscan-sanitize.XXXXXX)
trap 'rm -rf "$san"' EXIT
chmod 755 "$san"
(cd "$top" && git ls-files -z 2> /dev/null || find . -type f -not -path './build*' -not -path './.git/*' -print0) |
    (cd "$top" && xargs -0 cp --parents -t "$san")
mkdir "$san/build"
cmake -S "$san" -B "$san/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFILLSCAN_SANITIZE=ON > /dev/null
cmake --build "$san/build" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1
echo "== tests, sanitizer build, as root"
(cd "$san/build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure)
echo "== tests, sanitizer build, as nobody"
chown -R nobody "$san"
(cd "$san/build" && runuser -u nobody -- env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS="$ASAN_OPTIONS" \
    UBSAN_OPTIONS="$UBSAN_OPTIONS" HOME="$san" ctest --output-on-failure)
