#!/usr/bin/env bash
# The tool (its fill and read, and its probe), f3write then f3read, and f3probe side by side on
# the same emulated media: what each concludes and how long it takes. Each medium is served by nbdkit (tests/fake_medium.c)
# through nbdfuse and attached with direct I/O; each program gets a fresh one: the tool and
# f3write/f3read with a file system (ext4 without a journal, which would lie where a fake medium
# loses it, unless the medium says otherwise), f3probe bare and unmounted, as it wants.
# Then "time to verdict on a slow stick": a 2 GiB fake that keeps 256 MiB, a 1 GiB fake that
# wraps every 256 MiB (four laps) and a healthy 1 GiB medium, at 40 MiB/s, on ext4, on exFAT
# (exfat-fuse) and on FAT32 (fusefat): the fill and read, and the probe, each time beside
# f3write + f3read, as a ratio of the times (f3probe, which needs no file system, once a medium).
# The probe's runs also check that files planted in the volume before it are unchanged after it
# and that fsck finds nothing.
#   sudo bench/media.sh [NAME...]     (after scripts/test.sh has built the tool and the plugin)
# NAMEs pick the media whose name contains one of them: chain, cache-strict, cache-loose,
# exfat, bad, flip, log, fail-after, healthy, limit, wrap, partitioned, slow. PROBE_ONLY=1 runs
# the probe alone. SLOW_ONLY=TEXT keeps the slow sticks whose name contains TEXT ("wrap",
# "limit", "healthy"), SLOW_FS="exfat vfat" those file systems.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tool=${FILLSCAN_TOOL:-$here/../build/fillscan}
plugin=$here/../build/tests/fake_medium.so
[ "$(id -u)" -eq 0 ] || { echo "media.sh: needs root" >&2; exit 1; }
[ -x "$tool" ] && [ -f "$plugin" ] || { echo "media.sh: build the tool and the plugin first (scripts/test.sh)" >&2; exit 1; }
command -v f3probe > /dev/null && command -v jq > /dev/null && command -v sfdisk > /dev/null || {
    apt-get update > /dev/null
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends f3 jq fdisk > /dev/null
}

work=$(mktemp -d /tmp/fillscan-media.XXXXXX)
source "$here/../scripts/fake-medium.sh"
cleanup() { set +e; medium_detach; rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 130' INT TERM
seconds() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }

# name | what the table calls it | medium_attach's arguments
media=(
    "chain|1 GiB announced, mask 512M, keep 384M (chain)|size=1G mask=512M keep=384M mode=limit"
    "cache-strict|512M limit keep 192M, cache 16M strict|size=512M keep=192M mode=limit cache=16M cache_mode=strict"
    "cache-loose|512M limit keep 192M, cache 16M loose|size=512M keep=192M mode=limit cache=16M cache_mode=loose"
    "exfat|512M limit 192M on exFAT (FUSE)|--fs=exfat size=512M keep=192M mode=limit"
    "bad|healthy 512M, bad 1 MiB at 256 MiB|size=512M bad=256M-257M"
    "flip|healthy 512M, flip=1000|size=512M flip=1000"
    "log|512M log=192M|size=512M log=192M"
    "fail-after|512M fail_after=320M|size=512M fail_after=320M"
    "healthy|healthy 512M|size=512M mode=healthy"
    "limit|512M limit 192M|size=512M keep=192M mode=limit"
    "wrap|512M wrap 320M|size=512M keep=320M mode=wrap"
    "partitioned|partitioned (MBR at 1 MiB), limit 192M|--partition size=512M keep=192M mode=limit"
)
# 40 MiB/s is 320 Mbit/s: the rate filter counts bits, and both ways share its budget.
slow_media=(
    "2G, limit 256M, 40 MiB/s|--filter=rate size=2G keep=256M mode=limit rate=320M"
    "1G, wrap every 256M (4 laps), 40 MiB/s|--filter=rate size=1G keep=256M mode=wrap rate=320M"
    "healthy 1G, 40 MiB/s|--filter=rate size=1G rate=320M"
)
slow_fs=("ext4|ext4" "exfat|exFAT (exfat-fuse)" "vfat|FAT32 (fusefat)")

picked() { # NAME: whether the command line asked for it
    [ ${#filters[@]} -eq 0 ] && return 0
    local filter
    for filter in "${filters[@]}"; do [[ $1 == *"$filter"* ]] && return 0; done
    return 1
}
filters=("$@")

# Each run sets $summary and $took.
run_fillscan() {
    medium_attach "$@"
    local start status=0 out
    start=$(date +%s.%N)
    out=$("$tool" --device "$loop" --volume "$work/volume" --batch poll,fill,read --json --quiet 2> /dev/null \
        | tail -n 1) || status=$?
    took=$(seconds "$start")
    # The last line is the read's verdict, or the step that failed and why.
    summary=$(jq -r 'if .verdict then "\(.verdict) (\(.usable_bytes / 1048576 | floor) MiB)"
        else "\(.step) failed: \(.error)" end' <<< "$out" 2> /dev/null || echo "no JSON")
    summary="$summary, exit $status"
    medium_detach
}

# The probe, on files planted first: their checksums and the file system's check after it.
run_probe() {
    medium_attach "$@"
    local start status=0 out planted=ok i
    mkdir -p "$work/volume/user"
    for i in $(seq 16); do head -c $((200000 + i * 4099)) /dev/urandom > "$work/volume/user/f$i"; done
    sync
    umount "$work/volume"
    local before=clean
    [ "$(fs_check "$part")" = clean ] || before="NOT clean before the probe: the fake broke it already"
    mount_again
    # What the medium holds, read after a new mount: a medium that changes data on its own is not the probe's doing.
    (cd "$work/volume" && sha256sum user/*) > "$work/sums"
    start=$(date +%s.%N)
    out=$("$tool" --device "$loop" --volume "$work/volume" --batch poll,probe --json --quiet 2> /dev/null \
        | tail -n 1) || status=$?
    took=$(seconds "$start")
    summary=$(jq -r 'if .verdict and .ok then "\(.verdict) (\(.usable_bytes / 1048576 | floor) MiB), \(.probe_seconds)s"
        else "\(.step) failed: \(.error)" end' <<< "$out" 2> /dev/null || echo "no JSON")
    umount "$work/volume"
    [ "$(fs_check "$part")" = clean ] || planted="fsck NOT clean"
    [ "$before" = clean ] || planted="fsck $before"
    mount_again
    (cd "$work/volume" && sha256sum --quiet -c "$work/sums" > /dev/null 2>&1) || planted="$planted, files CHANGED"
    summary="$summary, exit $status, files+fsck $planted"
    medium_detach
}

mount_again() { # the volume's file system mounted again on $part, as medium_attach mounted it
    case $(blkid -o value -s TYPE "$part") in
        exfat) mount.exfat-fuse "$part" "$work/volume" > /dev/null ;;
        vfat) fusefat -o rw+ "$part" "$work/volume" > /dev/null 2>&1 ;;
        *) mount "$part" "$work/volume" ;;
    esac
}

fs_check() { # DEVICE: clean when the unmounted file system checks without a change
    case $(blkid -o value -s TYPE "$1") in
        ext4) e2fsck -fn "$1" > /dev/null 2>&1 ;;
        xfs) xfs_repair -n "$1" > /dev/null 2>&1 ;;
        btrfs) btrfs check --readonly "$1" > /dev/null 2>&1 ;;
        *) true ;;
    esac && echo clean
}

run_f3() {
    medium_attach "$@"
    local start
    start=$(date +%s.%N)
    f3write "$work/volume" > /dev/null 2>&1 || true
    sync
    echo 3 > /proc/sys/vm/drop_caches
    local out status=0
    out=$(f3read "$work/volume" 2>&1) || status=$?
    took=$(seconds "$start")
    summary=$(awk '/Data OK:/ { ok = $3 $4 } /Data LOST:/ { lost = $3 $4 }
        END { if (ok == "") print "no summary"
              else print "OK " ok ", LOST " lost (ok lost == "0.00Byte0.00Byte" ? " (no file readable)" : "") }' <<< "$out")
    # f3read ends with an abort on some broken file systems.
    [ "$status" -eq 0 ] || summary="$summary, f3read exit $status"
    medium_detach
}

run_f3probe() {
    medium_attach "$@" --fs=none
    local start status=0 out
    start=$(date +%s.%N)
    out=$(f3probe --destructive --time-ops "$loop" 2>&1) || status=$?
    took=$(seconds "$start")
    summary=$(awk '/news:/ { v = $0; sub(/.*'"'"' is (a )?/, "", v); sub(/[.!]$/, "", v) }
        /\*Usable\* size:/ { u = $3 " " $4 }
        END { if (v == "") v = "no verdict"; print v (u == "" ? "" : ", usable " u) }' <<< "$out")
    summary="$summary, exit $status"
    medium_detach
}

slow_row='| %-40s | %-20s | %-36s | %5s | %-56s | %5s | %-40s | %5s | %5s | %5s | %-44s | %5s |\n'
row='| %-46s | %-42s | %5s | %-64s | %5s | %-46s | %5s | %-54s | %5s |\n'
header() {
    if [ -n "${PROBE_ONLY:-}" ]; then
        printf '| %-46s | %-64s | %5s |\n' "$1" "fillscan probe (usable), planted files, fsck" "s"
        printf '| %-46s | %-64s | %5s |\n' "" "" "" | tr ' ' '-'
        return
    fi
    printf "$row" "$1" "fillscan verdict (usable), exit" "s" "fillscan probe (usable), planted files, fsck" "s" \
        "f3write + f3read" "s" "f3probe verdict" "s"
    printf "$row" "" "" "" "" "" "" "" "" "" | tr ' ' '-'
}
compare() { # NAME: one row, the programs on fresh media of one kind
    local label=$1; shift
    if [ -n "${PROBE_ONLY:-}" ]; then
        run_probe "$@"
        printf '| %-46s | %-64s | %5s |\n' "$label" "$summary" "$took"
        return
    fi
    run_fillscan "$@"; local fillscan=$summary fillscan_s=$took
    run_probe "$@"; local probe=$summary probe_s=$took
    run_f3 "$@"; local f3=$summary f3_s=$took
    run_f3probe "$@"
    printf "$row" "$label" "$fillscan" "$fillscan_s" "$probe" "$probe_s" "$f3" "$f3_s" "$summary" "$took"
}

shown=0
for medium in "${media[@]}"; do
    IFS='|' read -r name label arguments <<< "$medium"
    picked "$name" || continue
    [ $shown -eq 1 ] || { header medium; shown=1; }
    # shellcheck disable=SC2086 # the arguments are words on purpose
    compare "$label" $arguments
done

if picked slow; then
    echo
    echo "time to verdict on a slow stick (rate filter, 40 MiB/s both ways); ratios: fillscan's fill and read, and its probe, over f3write + f3read's time"
    printf "$slow_row" "slow stick" "file system" "fillscan verdict (usable), exit" "s" \
        "fillscan probe (usable), planted files, fsck" "s" "f3write + f3read" "s" "ratio" "probe" "f3probe verdict" "s"
    printf "$slow_row" "" "" "" "" "" "" "" "" "" "" "" "" | tr ' ' '-'
    for medium in "${slow_media[@]}"; do
        IFS='|' read -r label arguments <<< "$medium"
        [[ -z ${SLOW_ONLY:-} || $label == *"$SLOW_ONLY"* ]] || continue
        probed=0
        for fs in "${slow_fs[@]}"; do
            IFS='|' read -r fs_name fs_label <<< "$fs"
            [[ -z ${SLOW_FS:-} || " $SLOW_FS " == *" $fs_name "* ]] || continue
            # shellcheck disable=SC2086 # the arguments are words on purpose
            run_fillscan --fs="$fs_name" $arguments; fillscan=$summary fillscan_s=$took
            # shellcheck disable=SC2086
            run_probe --fs="$fs_name" $arguments; probe=$summary probe_s=$took
            # shellcheck disable=SC2086
            run_f3 --fs="$fs_name" $arguments; f3=$summary f3_s=$took
            f3probe="(as above)" f3probe_s=""
            if [ $probed -eq 0 ]; then
                # shellcheck disable=SC2086
                run_f3probe $arguments; f3probe=$summary f3probe_s=$took probed=1
            fi
            printf "$slow_row" "$label" "$fs_label" "$fillscan" "$fillscan_s" "$probe" "$probe_s" "$f3" "$f3_s" \
                "$(awk -v a="$fillscan_s" -v b="$f3_s" 'BEGIN { printf "%.2f", a / b }')" \
                "$(awk -v a="$probe_s" -v b="$f3_s" 'BEGIN { printf "%.2f", a / b }')" "$f3probe" "$f3probe_s"
        done
    done
fi
