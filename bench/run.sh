#!/usr/bin/env bash
# The tool's fill and read against the field's ceiling, in one run, on the same volumes:
# fio (4 MiB direct I/O, queue depth 8, libaio), dd (4 MiB direct) and f3write/f3read.
# fio writes a new file as it grows, as the fill does (fallocate=none); its default, a file
# allocated before it is written, is printed beside.
#   sudo bench/run.sh [ROUNDS] [SIZE_MiB] [DEVICES]
#        (defaults: 5 rounds after a warm-up, 2048 MiB, "ram disk")
# Two devices, each a loop device with ext4 on it:
#   ram   an image on tmpfs: a steady stand-in for a fast NVMe disk;
#   disk  an image on the machine's disk, attached with direct I/O, caches dropped before
#         every pass, so each read comes from the disk.
# Every round runs each program once per device (each read three times), in an order that
# rotates from round to round; ratios are taken within a round, then their median is
# printed. MiB = 2^20 bytes.
set -euo pipefail

rounds=${1:-5}
size_mib=${2:-2048}
devices=${3:-ram disk}
here=$(cd "$(dirname "$0")" && pwd)
tool=${FILLSCAN_TOOL:-$here/../build/fillscan}
[ "$(id -u)" -eq 0 ] || { echo "run.sh: needs root (loop devices, mount, dropping caches)" >&2; exit 1; }
[ -x "$tool" ] || { echo "run.sh: $tool is not built (run scripts/build.sh first)" >&2; exit 1; }
missing=()
for program in fio f3write f3read jq /usr/bin/time; do command -v "$program" > /dev/null || missing+=("$program"); done
if [ "${#missing[@]}" -gt 0 ]; then
    apt-get update > /dev/null
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends fio f3 jq time > /dev/null
fi

work=$(mktemp -d /var/tmp/fillscan-bench.XXXXXX)
loops=()
mounts=()
tmpfs=""
cleanup() {
    set +e
    for mount in "${mounts[@]}"; do umount "$mount"; done
    for loop in "${loops[@]}"; do losetup -d "$loop"; done
    [ -n "$tmpfs" ] && umount "$tmpfs"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

drop_caches() { sync; echo 3 > /proc/sys/vm/drop_caches; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
mib() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.1f\n", b / 1048576 / s }'; }
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f\n", b - a }'; }

# name -> "loop mountpoint"
declare -A device
make_device() { # NAME IMAGE_DIR LOSETUP_OPTIONS...
    local name=$1 dir=$2; shift 2
    truncate -s "${size_mib}M" "$dir/$name.img"
    local loop
    loop=$(losetup --show -f "$@" "$dir/$name.img")
    loops+=("$loop")
    mkfs.ext4 -q "$loop"
    mkdir "$work/$name"
    mount "$loop" "$work/$name"
    mounts+=("$work/$name")
    device[$name]="$loop $work/$name"
}
mkdir "$work/tmpfs"
mount -t tmpfs -o size=$((size_mib + 64))M tmpfs "$work/tmpfs"
tmpfs=$work/tmpfs
[[ " $devices " == *" ram "* ]] && make_device ram "$work/tmpfs"
[[ " $devices " == *" disk "* ]] && make_device disk "$work" --direct-io=on

# One measurement each; every one prints MiB/s (the tool's also its wall time and peak memory).
tool_fill() { # LOOP VOLUME -> rate_json rate_wall bytes
    local start out
    start=$(now)
    out=$("$tool" --device "$1" --volume "$2" --batch poll,fill --json --quiet | tail -n 1)
    local wall; wall=$(since "$start")
    local bytes ms; bytes=$(jq -r .bytes_written <<< "$out"); ms=$(jq -r .elapsed_ms <<< "$out")
    echo "$(mib "$bytes" "$(awk -v m="$ms" 'BEGIN { print m / 1000 }')") $(mib "$bytes" "$wall") $bytes"
}
tool_read() { # LOOP VOLUME -> rate_json rate_wall peak_KiB verdict
    local start out
    start=$(now)
    out=$(/usr/bin/time -f %M -o "$work/peak" "$tool" --device "$1" --volume "$2" --batch poll,read --json --quiet |
          tail -n 1)
    local wall; wall=$(since "$start")
    local bytes ms; bytes=$(jq -r .bytes_read <<< "$out"); ms=$(jq -r .elapsed_ms <<< "$out")
    echo "$(mib "$bytes" "$(awk -v m="$ms" 'BEGIN { print m / 1000 }')") $(mib "$bytes" "$wall") $(cat "$work/peak") $(jq -r .verdict <<< "$out")"
}
fio_rate() { # fio options... -> MiB/s of its one job
    fio --output-format=json --name=bench --bs=4M --direct=1 --ioengine=libaio --iodepth=8 "$@" |
        jq -r '.jobs[0] | (.read.bw_bytes + .write.bw_bytes) / 1048576 * 10 | round / 10'
}
dd_rate() { # dd options... -> MiB/s from its bytes and seconds
    dd "$@" 2>&1 | awk '/copied/ { for (i = 1; i <= NF; i++) if ($i == "s,") s = $(i - 1); printf "%.1f\n", $1 / 1048576 / s }'
}
f3_rate() { # f3write|f3read VOLUME -> MiB/s as f3 reports it
    "$@" 2>&1 | awk '/Average (writing|reading) speed/ { v = $(NF - 1); u = $NF;
        if (u ~ /^GB/) v *= 1024; else if (u ~ /^KB/) v /= 1024; printf "%.1f\n", v }'
}

declare -A values # "device,measure,round" -> value
put() { values[$1]=$2; } # KEY VALUE
# Reads change nothing and take a second or two, so each round reads $read_reps times and
# keeps each program's median: one slow pass on a shared machine does not decide a round.
read_reps=3
measure_round() { # ROUND DEVICE
    local round=$1 name=$2 loop volume
    read -r loop volume <<< "${device[$name]}"
    local writes=(tool_w fio_w dd_w) reads=(tool_r fio_r dd_r)
    local shift=$((round % 3)) step rep
    # The writes and the reads rotate within their group, so no program always goes first.
    local order=("${writes[@]:shift}" "${writes[@]:0:shift}" f3)
    for rep in $(seq 0 $((read_reps - 1))); do
        local r=$(((shift + rep) % 3))
        order+=("${reads[@]:r}" "${reads[@]:0:r}")
    done
    rm -f "$volume"/data.data* "$volume"/*.h2w "$volume"/fio.bin "$volume"/dd.bin
    local a b c d
    local -a tool_reads=() tool_walls=() fio_reads=() dd_reads=()
    for step in "${order[@]}"; do
        drop_caches
        case $step in
        tool_w)
            read -r a b _ < <(tool_fill "$loop" "$volume")
            put "$name,tool_fill,$round" "$a"; put "$name,tool_fill_wall,$round" "$b"
            rm -f "$volume"/data.data* ;;
        fio_w)
            # A new file written as it grows, as the fill writes; then fio's default, a file
            # allocated first.
            put "$name,fio_write,$round" "$(fio_rate --filename="$volume/fio.bin" --rw=write --size=$((size_mib * 7 / 8))M --end_fsync=1 --fallocate=none)"
            rm -f "$volume/fio.bin"
            drop_caches
            put "$name,fio_write_prealloc,$round" "$(fio_rate --filename="$volume/fio.bin" --rw=write --size=$((size_mib * 7 / 8))M --end_fsync=1)"
            rm -f "$volume/fio.bin" ;;
        dd_w)
            put "$name,dd_write,$round" "$(dd_rate if=/dev/zero of="$volume/dd.bin" bs=4M count=$((size_mib * 7 / 32)) oflag=direct conv=fsync)"
            rm -f "$volume/dd.bin" ;;
        f3)
            put "$name,f3write,$round" "$(f3_rate f3write "$volume")"
            drop_caches
            put "$name,f3read,$round" "$(f3_rate f3read "$volume")"
            rm -f "$volume"/*.h2w
            tool_fill "$loop" "$volume" > /dev/null ;; # the reads below find the tool's words on the device
        tool_r)
            read -r a b c d < <(tool_read "$loop" "$volume")
            tool_reads+=("$a"); tool_walls+=("$b")
            put "$name,peak,$round" "$c"; put "$name,verdict,$round" "$d" ;;
        fio_r)
            fio_reads+=("$(fio_rate --filename="$loop" --rw=read --readonly)") ;;
        dd_r)
            dd_reads+=("$(dd_rate if="$loop" of=/dev/null bs=4M iflag=direct)") ;;
        esac
    done
    put "$name,tool_read,$round" "$(printf '%s\n' "${tool_reads[@]}" | median)"
    put "$name,tool_read_wall,$round" "$(printf '%s\n' "${tool_walls[@]}" | median)"
    put "$name,fio_read,$round" "$(printf '%s\n' "${fio_reads[@]}" | median)"
    put "$name,dd_read,$round" "$(printf '%s\n' "${dd_reads[@]}" | median)"
}

echo "fillscan benchmark: ${size_mib} MiB ext4 volumes, $rounds rounds after a warm-up, $(nproc) cores, $(uname -r)"
for round in $(seq 0 "$rounds"); do
    for name in $devices; do
        measure_round "$round" "$name"
        [ "$round" -eq 0 ] && continue
        v() { echo "${values[$name,$1,$round]}"; }
        printf '%-4s round %d: fill %s (fio %s, dd %s, f3write %s) | read %s (fio %s, dd %s, f3read %s) MiB/s, %s\n' \
            "$name" "$round" "$(v tool_fill)" "$(v fio_write)" "$(v dd_write)" "$(v f3write)" "$(v tool_read)" \
            "$(v fio_read)" "$(v dd_read)" "$(v f3read)" "$(v verdict)"
    done
done

med() { for r in $(seq 1 "$rounds"); do echo "${values[$1,$2,$r]}"; done | median; }
ratio() { for r in $(seq 1 "$rounds"); do awk -v a="${values[$1,$2,$r]}" -v b="${values[$1,$3,$r]}" 'BEGIN { printf "%.3f\n", a / b }'; done | median; }
echo
printf '%-5s %-30s %9s %9s %7s %s\n' device measure "MiB/s" "peer" ratio target
for name in $devices; do
    target_w=$([ "$name" = ram ] && echo ">= 0.95" || echo ">= 0.90")
    row() { printf '%-5s %-30s %9.1f %9.1f %7.2f %s\n' "$name" "$1" "$(med "$name" "$2")" "$(med "$name" "$3")" "$(ratio "$name" "$2" "$3")" "$4"; }
    row "fill vs fio write" tool_fill fio_write "$target_w"
    row "fill (wall) vs fio write" tool_fill_wall fio_write ""
    row "fill vs fio write, preallocated" tool_fill fio_write_prealloc ""
    row "fill vs dd oflag=direct" tool_fill dd_write ""
    row "fill vs f3write" tool_fill f3write ""
    row "read vs fio read" tool_read fio_read "$target_w"
    row "read (wall) vs fio read" tool_read_wall fio_read ""
    row "read vs dd iflag=direct" tool_read dd_read ""
    row "read vs f3read" tool_read f3read ""
    printf '%-5s peak memory of a read: %s KiB (allowed 65536 KiB + the run table); verdicts: %s\n' "$name" \
        "$(med "$name" peak)" "$(for r in $(seq 1 "$rounds"); do echo "${values[$name,verdict,$r]}"; done | sort | uniq -c | tr -s ' ' | tr '\n' ' ')"
done
