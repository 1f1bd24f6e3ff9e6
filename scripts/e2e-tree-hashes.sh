#!/usr/bin/env bash
# Runs `torvane_e2e basic` on every fixture volume and disk partition and
# prints, per run, the summary line and every saved file's path and SHA-256.
# Two runs of this script (before and after a change) compare with diff.
#   scripts/e2e-tree-hashes.sh BUILD_DIR > hashes.txt
# E2E=path/to/torvane_e2e runs another build's program on BUILD_DIR's fixtures.
# scripts/e2e-deep-tree-hashes.sh does the same for Deep Search.
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
  "$E2E" basic "$@" --out "$dir" 2>/dev/null || echo "exit $?"
  if [ -d "$dir" ]; then
    (cd "$dir" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum)
    (cd "$dir" && find . -type d | sort)
  fi
}
for img in fat16 fat32 fat32-cluster5 exfat ntfs; do
  [ -f "$FIX/$img.img" ] && run "$img" --image "$FIX/$img.img"
done
for disk in mbr gpt sample; do
  for p in 1 2 3 4 5 6 7 8; do
    if grep -q "	p$p/" "$FIX/$disk.img.manifest" 2>/dev/null; then
      run "$disk-p$p" --image "$FIX/$disk.img" --partition "$p"
    fi
  done
done
