# Sourced by scripts that need an emulated medium (bench/media.sh, scripts/screenshots.sh):
# a medium that announces 512 MiB, served by nbdkit (tests/fake_medium.c) through nbdfuse,
# attached as a loop device with direct I/O, with ext4 on it (no journal: it would lie where
# a fake medium loses it), mounted at $work/volume. The caller sets $work and $plugin, and
# calls medium_detach on exit; $loop is the device.
loop="" mounted="" fuse=""

medium_attach() { # MODE KEEP
    mkdir -p "$work/nbd" "$work/volume"
    rm -f "$work/pid"
    nbdfuse -P "$work/pid" "$work/nbd/medium.img" --command nbdkit -s "$plugin" size=512M keep="$2" mode="$1" &
    for _ in $(seq 100); do [ -s "$work/pid" ] && break; sleep 0.1; done
    fuse=$work/nbd
    loop=$(losetup --show -f --direct-io=on "$work/nbd/medium.img")
    mkfs.ext4 -q -O ^has_journal "$loop"
    mount "$loop" "$work/volume"
    mounted=$work/volume
}

medium_detach() {
    [ -n "$mounted" ] && umount "$mounted"
    [ -n "$loop" ] && losetup -d "$loop"
    [ -n "$fuse" ] && fusermount3 -u "$fuse"
    mounted="" loop="" fuse=""
}
