#!/usr/bin/env bash
# Times the recovery of a whole NTFS volume of 100,000 files (a fifth of them
# deleted) by `torvane_e2e basic` and, when it is installed, by the Sleuth
# Kit's `tsk_recover -e`, in the same run, and prints both times.
# Not a test: a measurement to run by hand (needs root for the ntfs-3g mount,
# mkntfs and ntfs-3g; tsk_recover is optional).
#   scripts/time-ntfs-recovery.sh [BUILD_DIR] [FILES]
set -euo pipefail
BUILD=${1:-build}
FILES=${2:-100000}
E2E="$BUILD/tests/e2e/torvane_e2e"
for tool in mkntfs ntfs-3g; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install ntfs-3g)" >&2; exit 1; }
done
[ -x "$E2E" ] || { echo "build $E2E first" >&2; exit 1; }

WORK=$(mktemp -d)
MNT="$WORK/mnt"
IMG="$WORK/ntfs.img"
cleanup() {
  mountpoint -q "$MNT" 2>/dev/null && umount "$MNT"
  rm -rf "$WORK"
}
trap cleanup EXIT

# A 4 GiB volume: FILES files of 1 to 16 KiB in FILES/40 folders two levels
# deep, every fifth file deleted again.
truncate -s 4G "$IMG"
mkntfs -F -Q -q -c 4096 -L timing "$IMG"
mkdir -p "$MNT"
ntfs-3g -o big_writes "$IMG" "$MNT"
echo "making $FILES files ..."
python3 - "$MNT" "$FILES" <<'EOF'
import os, sys
root, files = sys.argv[1], int(sys.argv[2])
folders = max(1, files // 40)
payload = bytes(range(256)) * 64
doomed = []
for d in range(folders):
    path = os.path.join(root, "group%03d" % (d % 50), "folder%05d" % d)
    os.makedirs(path, exist_ok=True)
for i in range(files):
    d = i % folders
    name = os.path.join(root, "group%03d" % (d % 50), "folder%05d" % d, "file%06d.dat" % i)
    with open(name, "wb") as f:
        f.write(payload[: 1024 * (1 + i % 16)])
    if i % 5 == 4:
        doomed.append(name)
for name in doomed:
    os.remove(name)
EOF
umount "$MNT"
sync

elapsed() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; t1=$(date +%s.%N); echo "$t1 - $t0" | bc; }

echo "torvane_e2e basic: $(elapsed "$E2E" basic --image "$IMG" --out "$WORK/torvane") s," \
  "$(find "$WORK/torvane" -type f | wc -l) files"
if command -v tsk_recover >/dev/null; then
  echo "tsk_recover -e:    $(elapsed tsk_recover -e "$IMG" "$WORK/tsk") s," \
    "$(find "$WORK/tsk" -type f | wc -l) files"
else
  echo "tsk_recover -e:    not installed (apt-get install sleuthkit)"
fi
