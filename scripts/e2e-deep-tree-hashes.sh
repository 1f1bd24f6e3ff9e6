#!/usr/bin/env bash
# Runs `torvane_e2e deep` on the fixture images (whole volumes, disks, and
# the damaged copies the Deep tests make: boot sectors zeroed, partition
# tables zeroed) and prints, per run, the summary line, the volumes the scan
# reported, every saved file's path and SHA-256, and every folder created.
# Two runs of this script (before and after a change) compare with diff.
#   scripts/e2e-deep-tree-hashes.sh BUILD_DIR > deep-hashes.txt
# E2E=path/to/torvane_e2e runs another build's program on BUILD_DIR's fixtures.
set -euo pipefail
BUILD=${1:-build}
E2E=${E2E:-"$BUILD/tests/e2e/torvane_e2e"}
FIX="$BUILD/fixtures"
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

run() {
  local name=$1; shift
  local dir="$OUT/$name"
  echo "== $name"
  "$E2E" deep "$@" --out "$dir" 2>"$OUT/$name.err" || echo "exit $?"
  # The volumes found ("found: KIND key ..."), as the scan reported them.
  grep -E '^found: ' "$OUT/$name.err" | sort || true
  if [ -d "$dir" ]; then
    (cd "$dir" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum)
    (cd "$dir" && find . -type d | sort)
  fi
}

# A copy of fixture IMAGE with LENGTH zero bytes at OFFSET of every SECTOR given.
patched() {
  local image=$1 offset=$2 length=$3; shift 3
  local copy="$OUT/patched-$image-$offset-$length-$(echo "$@" | tr ' ' '_')"
  cp "$FIX/$image" "$copy"
  for s in "$@"; do
    dd if=/dev/zero of="$copy" bs=1 count="$length" seek=$((s * 512 + offset)) conv=notrunc status=none
  done
  echo "$copy"
}

have() { [ -f "$FIX/$1" ]; }

# Whole volumes and disks, with the type chosen and with the default (FAT).
for img in fat16 fat32 fat32-cluster5 fat32-highword fat16-4k fat32-4k card-fat16 card-fat32 reformatted mbr gpt; do
  have "$img.img" || continue
  run "$img-default" --image "$FIX/$img.img"
done
for pair in fat16:FAT16 fat32:FAT32 fat32-cluster5:FAT32 fat16-4k:FAT16 fat32-4k:FAT32 reformatted:FAT32 \
            exfat:exFAT ntfs:NTFS ntfs-4k:NTFS ntfs-boot-zeroed:NTFS ntfs-boots-zeroed:NTFS ntfs-mft-head:NTFS \
            mbr:NTFS; do
  img=${pair%%:*} fs=${pair##*:}
  have "$img.img" || continue
  run "$img-$fs" --image "$FIX/$img.img" --fs "$fs"
done
have exfat-card.head && run "exfat-card-head-exFAT" --image "$FIX/exfat-card.head" --fs exFAT

# Boot sectors zeroed (the main one and the FAT32/exFAT backup).
have fat16.img && run "fat16-no-boot-sector" --image "$(patched fat16.img 0 512 0)" --fs FAT16
have fat32.img && run "fat32-no-boot-sector" --image "$(patched fat32.img 0 512 0 6)" --fs FAT32
have exfat.img && run "exfat-no-boot-sector" --image "$(patched exfat.img 0 512 0 12)" --fs exFAT
have ntfs.img && run "ntfs-no-boot-sector-range" --image "$(patched ntfs.img 0 512 0)" --fs NTFS --range 0:20000

# The MBR's four entries and both EBRs' zeroed: one sweep of the whole disk
# finds both FAT volumes; the NTFS partition is swept over the extent the
# partition search gives for it.
if have mbr.img; then
  disk=$(patched mbr.img 446 64 0 108544 180224)
  run "mbr-no-table-FAT32" --image "$disk" --fs FAT32
  run "mbr-no-table-default" --image "$disk"
  ntfs=$("$E2E" partitions --image "$disk" --depth advanced 2>/dev/null | grep -o 'NTFS [0-9]* [0-9]*' | head -1 || true)
  if [ -n "$ntfs" ]; then
    read -r _ start sectors <<<"$ntfs"
    run "mbr-no-table-NTFS-partition" --image "$disk" --fs NTFS --range "$start:$((start + sectors - 1))"
  fi
fi

# Ranges: part of a volume, past the image's end.
have fat32.img && run "fat32-first-half" --image "$FIX/fat32.img" --fs FAT32 --range 0:40959
have fat16.img && run "fat16-past-end" --image "$FIX/fat16.img" --fs FAT16 --range 0:900000000
