#!/usr/bin/env bash
# Builds the Debian package, installs it into a clean Debian 12 root (debootstrap) with apt, so
# that its computed Depends are what brings the libraries in, and runs it there: keltra
# --version, a scan of a FAT image with a deleted file, the desktop program under Xvfb; then
# removes it and checks that nothing of it is left. Usage: package_check.sh SOURCE_ROOT
set -euo pipefail
root=$1
work=${KELTRA_PACKAGE_ROOT:-$root/build/package-check}
# A pristine root is made once and copied for every run, so that each run starts clean.
if [ ! -x "$work/pristine/usr/bin/apt-get" ]; then
    rm -rf "$work/pristine"
    mkdir -p "$work"
    debootstrap --variant=minbase bookworm "$work/pristine" http://deb.debian.org/debian >/dev/null
fi
rm -rf "$work/chroot"
cp -a "$work/pristine" "$work/chroot"
"$root/dev.sh" package
deb=$(ls "$root"/build/package/keltra_*.deb | head -n 1)
cleanup() {
    umount "$work/chroot/proc" 2>/dev/null || true
    umount "$work/chroot/dev" 2>/dev/null || true
}
trap cleanup EXIT
mount -t proc proc "$work/chroot/proc"
mount --bind /dev "$work/chroot/dev"
cp /etc/resolv.conf "$work/chroot/etc/resolv.conf" 2>/dev/null || true
cp "$deb" "$work/chroot/tmp/keltra.deb"

# A small FAT image with one deleted picture, made here where mtools exists.
rm -f "$work/card.img"
truncate -s 16M "$work/card.img"
mkfs.vfat -n CARD "$work/card.img" >/dev/null
head -c 200000 /dev/urandom >"$work/photo.jpg"
MTOOLS_SKIP_CHECK=1 mcopy -i "$work/card.img" "$work/photo.jpg" ::/photo.jpg
MTOOLS_SKIP_CHECK=1 mdel -i "$work/card.img" ::/photo.jpg
cp "$work/card.img" "$work/chroot/tmp/card.img"

in_root() { chroot "$work/chroot" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/keltra.deb >/dev/null
in_root keltra --version
in_root keltra scan /tmp/card.img --json | grep -q '"name":"photo.jpg"'
echo "package-check: the scan in the clean root found the deleted file"
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq xvfb xauth >/dev/null
in_root sh -c 'xvfb-run -a sh -c "keltra-photo-recovery & pid=\$!; sleep 5; kill -0 \$pid && kill \$pid"'
echo "package-check: the desktop program started under Xvfb"
in_root apt-get remove -y -qq keltra >/dev/null
if in_root sh -c 'ls /usr/bin/keltra* /usr/share/keltra-photo-recovery 2>/dev/null' | grep -q .; then
    echo "package-check: files were left after removal" >&2
    exit 1
fi
echo "package-check: removed cleanly"
