# shellcheck shell=bash disable=SC2154 # $work and $plugin come from the caller
# Sourced by scripts that need an emulated medium (bench/media.sh, scripts/screenshots.sh):
# served by nbdkit (tests/fake_medium.c) through nbdfuse, attached as a loop device with
# direct I/O, with a file system on it mounted at $work/volume. The caller sets $work and
# $plugin, and calls medium_detach on exit.
#   medium_attach [--fs=ext4|exfat|vfat|none] [--partition] [--filter=NAME...] PARAMETER...
# PARAMETERs go to the plugin (size=512M keep=192M mode=limit cache=16M ...) and to the nbdkit
# filters named with --filter (--filter=rate with rate=BITS_PER_SECOND among them).
# --fs (default $MEDIUM_FS, else ext4): ext4 without a journal, which would lie where a fake
# medium loses it; exFAT through exfat-fuse's FUSE driver; vfat is FAT32 through fusefat, the
# FUSE driver that names no device in its mount; none leaves the medium bare and
# unmounted. --partition (or MEDIUM_PARTITION=1) first writes an MBR with one partition from
# 1 MiB to the end, and the file system goes on it.
# Sets $loop, the whole device (the tool's --device), and $part, the file system's device.
loop="" part="" mounted="" fuse=""

medium_attach() {
    local fs=${MEDIUM_FS:-ext4} partition=${MEDIUM_PARTITION:-0} arg
    local nbdkit_options=() parameters=()
    for arg in "$@"; do
        case $arg in
            --fs=*) fs=${arg#--fs=} ;;
            --partition) partition=1 ;;
            --filter=*) nbdkit_options+=("$arg") ;;
            *) parameters+=("$arg") ;;
        esac
    done
    mkdir -p "$work/nbd" "$work/volume"
    rm -f "$work/pid"
    nbdfuse -P "$work/pid" "$work/nbd/medium.img" --command nbdkit -s "${nbdkit_options[@]}" "$plugin" \
        "${parameters[@]}" &
    for _ in $(seq 100); do [ -s "$work/pid" ] && break; sleep 0.1; done
    [ -s "$work/pid" ] || { echo "fake-medium.sh: nbdfuse did not start (${parameters[*]})" >&2; return 1; }
    fuse=$work/nbd
    if [ "$partition" = 1 ]; then
        loop=$(losetup --show -f -P --direct-io=on "$work/nbd/medium.img")
        local type=83
        [ "$fs" = exfat ] && type=7
        echo "start=2048, type=$type" | sfdisk -q --label dos "$loop"
        part=${loop}p1
        # sfdisk's request to rescan the table leaves no partition here (nor does BLKRRPART):
        # partx adds it explicitly, and devtmpfs makes the node.
        [ -b "$part" ] || partx -a "$loop" 2> /dev/null || true
        for _ in $(seq 50); do [ -b "$part" ] && break; sleep 0.1; done
        [ -b "$part" ] || { echo "fake-medium.sh: $part did not appear" >&2; return 1; }
    else
        loop=$(losetup --show -f --direct-io=on "$work/nbd/medium.img")
        part=$loop
    fi
    case $fs in
        ext4) mkfs.ext4 -q -O ^has_journal "$part"
              mount "$part" "$work/volume" ;;
        exfat) mkfs.exfat "$part" > /dev/null
               mount.exfat-fuse "$part" "$work/volume" > /dev/null ;;
        vfat) mkfs.vfat -F 32 "$part" > /dev/null
              fusefat -o rw+ "$part" "$work/volume" > /dev/null 2>&1 ;; # it tells its FAT's figures
        none) return 0 ;;
        *) echo "fake-medium.sh: no file system $fs (ext4, exfat, vfat, none)" >&2; return 1 ;;
    esac
    mounted=$work/volume
}

medium_detach() {
    [ -n "$mounted" ] && umount "$mounted"
    if [ -n "$loop" ]; then
        # A FUSE file system's daemon may still hold the device after umount: the loop then
        # lets go of the medium's file only once it is closed, and nbdfuse can end after that.
        losetup -d "$loop"
        local name=${loop#/dev/}
        for _ in $(seq 100); do [ -e "/sys/block/$name/loop/backing_file" ] || break; sleep 0.1; done
    fi
    [ -n "$fuse" ] && fusermount3 -u "$fuse"
    mounted="" loop="" part="" fuse=""
}
