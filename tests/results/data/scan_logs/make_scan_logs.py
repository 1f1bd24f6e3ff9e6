#!/usr/bin/env python3
"""Builds the scan-log samples of the scan-log tests and the seed corpus of
fuzz_scan_log, byte by byte from the format's description, independently of
the program's own writer.

    python3 tests/results/data/scan_logs/make_scan_logs.py

Current-layout samples (the writer must reproduce them byte for byte):
  basic-fat32.VQL            a Basic scan of a FAT32 partition: eight folders
  deep-ntfs.VQL              Deep NTFS: file table and extent rows
  deep-fat32.VQL             Deep FAT32: file-system rows, keys, a folder at cluster 5
  basic-ntfs-logical.VQL     Basic NTFS read through a volume path ("LOG" form)
  deep-exfat-recognised.VQL  Deep exFAT of a "Recognised" volume, no extent rows
  only-root.VQL              only "Root", folder count 0
  long-names.VQL             names of 254, 255 and 300 characters
  zero-record.VQL            items without a folder record
Older layouts and odd trees (read only):
  older-basic-ntfs.VQL       magic "KZUWIN7SR2015": no file counts, six-text rows
  older-deep-ntfs.VQL        the same for Deep: keys, seven-text rows, extents
  oldest-zj-basic-fat.VQL    "ZJWIN7SR" in the first text, single-byte texts, no trailer
  oldest-kzu-basic-ntfs.VQL  "KZUWIN7SR" in the first text, trailer cut after the description
  tree-oddities.VQL          a jump of three levels, an empty line, a CR without LF
  first-line-tab.VQL         a first line of one tab (no root record), a line above it
  count-zero-with-items.VQL  folder count 0 but items after the root
  no-trailer.VQL             ends with the end marker
  tree-ends-at-eof.VQL       no end marker: the file ends after the counted folders
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, '..', '..', '..', '..', 'fuzz', 'corpus', 'fuzz_scan_log')

MAGIC = 'KZUWIN7SR2015_2023'
END_MARKER = 'KZUWIN7SR2015/:*?"<>|'


def u16(v): return struct.pack('<H', v)
def u32(v): return struct.pack('<I', v)
def u64(v): return struct.pack('<Q', v)


def length(n):
    if n < 0xFF:
        return bytes([n])
    if n < 0xFFFE:
        return b'\xff' + u16(n)
    return b'\xff' + u16(0xFFFF) + u32(n)


def T(s):
    """Text, Unicode form: FF FE FF, the length in UTF-16 units, the units."""
    data = s.encode('utf-16-le')
    return b'\xff\xfe\xff' + length(len(data) // 2) + data


def T1(s):
    """Text, single-byte form (Windows-1252), as the oldest logs have it."""
    data = s.encode('cp1252')
    return length(len(data)) + data


def L(s):
    """Line: UTF-16 units, then CR LF."""
    return s.encode('utf-16-le') + b'\r\x00\n\x00'


def geometry(spf, spc, root_sectors, root_start, reserved, cluster0, fat1, fat2, mft, mirr, frs, irs):
    return (u32(spf) + u32(spc) + u32(root_sectors) + u32(root_start) + u32(reserved) + u64(cluster0) +
            u32(fat1) + u32(fat2) + u64(mft) + u64(mirr) + u32(frs) + u32(irs))


def partition(disk, index, fs_type, mode_text, range_start, range_end, item_start, item_end, byte_limit):
    return (u16(disk) + u32(index) + T(fs_type) + T(mode_text) + u64(range_start) + u64(range_end) +
            u64(item_start) + u64(item_end) + u64(byte_limit))


def record(name, own, parent, date, time, deleted, key=None, count=None, text=T):
    b = text(name) + u32(own) + u32(parent) + u64(date) + u64(time) + u32(deleted)
    if key is not None:
        b += u64(key)
    if count is not None:
        b += u64(count)
    return b


def root_record(deep, current=True, text=T):
    return record('Root_Item', 0, 0, 0, 0, 0, 0 if deep else None, 0 if current else None, text)


def row(*texts, text=T):
    return b''.join(text(t) for t in texts)


def file_row(parent, own, name, size, t1, t2, t3, six=False):
    texts = ['%d|%d|' % (parent, own), name, '%d' % size, t1, t2, '%d' % parent, t3]
    return row(*(texts[:6] if six else texts))


DISK_ID = 'QEMU HARDDISK||  8.00 GB||16777216||1'
PHY = T('PHY') + T(DISK_ID) + u16(1)

# FAT date 15-JUL-2024 and time 14:30:20, an NTFS FILETIME of the same moment.
DATE = ((2024 - 1980) << 9) | (7 << 5) | 15
TIME = (14 << 11) | (30 << 5) | (20 // 2)
FILETIME = 133654842200000000

# fat32.img at sector 2048 of the disk.
FAT32_GEOMETRY = geometry(630, 1, 0, 2, 32, 3338, 2080, 2710, 0, 0, 0, 0)
FAT32_PARTITION = partition(1, 0, 'FAT32', 'Basic Search', 2048, 83948, 2048, 83948, 83948 * 512)
# ntfs.img at sector 2048.
NTFS_GEOMETRY = geometry(0, 8, 0, 0, 0, 2048, 0, 0, 2080, 18424, 2, 8)
# fat16.img at sector 63.
FAT16_GEOMETRY = geometry(32, 4, 32, 131, 4, 155, 67, 99, 0, 0, 0, 0)


def basic_fat32():
    tree = (L('Root') + root_record(False) +
            L('\tDocuments') + record('Documents', 3, 0, DATE, TIME, 0, None, 6) +
            L('\t\tProjekte') + record('Projekte', 9, 3, DATE, TIME, 0, None, 0) +
            L('\t\t\t2024') + record('2024', 10, 9, DATE, TIME, 0, None, 1) +
            L('\t\t\t\tQ3 Planung') + record('Q3 Planung', 11, 10, DATE, TIME, 0, None, 2) +
            L('\tFotos Sommer 2024') + record('Fotos Sommer 2024', 14, 0, DATE, TIME, 0, None, 3) +
            L('\t\tStrand') + record('Strand', 15, 14, DATE, TIME, 0, None, 1) +
            L('\t\t\tAbend') + record('Abend', 16, 15, DATE, TIME, 0, None, 1) +
            L('\tSizes') + record('Sizes', 30, 0, DATE, TIME, 0, None, 6) +
            L(END_MARKER))
    return (T('part') + T(MAGIC) + T('QEMU HARDDISK') + u32(1) + PHY + FAT32_PARTITION + FAT32_GEOMETRY +
            FAT32_GEOMETRY + T('FAT32') + u64(8) + tree +
            T('Disk 1 ( Partition 1 / FAT32 /  39.99 MB )') + u64(2048))


NTFS_FILES = [
    (64, 2214, 'Résumé.txt', 1800, '%d' % FILETIME, '', ''),
    (64, 281474976710721, '日本語.txt', 940, '%d' % FILETIME, '1', ''),
    (64, 2218, 'Notes.txt', 700, '%d' % FILETIME, '', ''),
    (70, 2240, 'size-0.bin', 0, '%d' % FILETIME, '', ''),
]
NTFS_EXTENTS = [('1', '1', '2048', '34815', '2048', '16777216'),
                ('1', '2', '34816', '69631', '34816', '16777216')]


def deep_ntfs():
    tree = (L('Root') + root_record(True) +
            L('\tDocuments') + record('Documents', 64, 5, FILETIME, 0, 0, 0, 6) +
            L('\t\tProjekte') + record('Projekte', 65, 64, FILETIME, 0, 0, 0, 0) +
            L('\tSizes') + record('Sizes', 70, 5, FILETIME, 0, 1, 0, 6) +
            L(END_MARKER))
    files = u64(len(NTFS_FILES)) + b''.join(file_row(*f) for f in NTFS_FILES) + u32(1)
    extents = u32(len(NTFS_EXTENTS)) + b''.join(row(*e) for e in NTFS_EXTENTS)
    return (T('Hard Disk') + T(MAGIC) + T('QEMU HARDDISK') + u32(2) + PHY +
            partition(1, 0, 'NTFS', 'Deep Search', 2048, 34815, 0, 16777216, 16777216 * 512) +
            NTFS_GEOMETRY + NTFS_GEOMETRY + T('NTFS') + u64(3) + tree + files + extents +
            T('Disk 1 ( Partition 1 / NTFS /  16.00 MB )') + u64(0))


FAT_ROWS = [('2048', '630', '1', '0', '2', '32', '3338', '2080', '2710', '81900', '0C', '83947'),
            ('90112', '536', '1', '0', '2', '32', '91214', '90144', '90680', '69615', '0C', '159726')]


def deep_fat32():
    tree = (L('Root') + root_record(True) +
            L('\tDCIM') + record('DCIM', 3, 0, DATE, TIME, 0, 3338, 0) +
            L('\t\t100CANON') + record('100CANON', 4, 3, DATE, TIME, 1, 3338, 4) +
            L('\tMusic') + record('Music', 5, 0, DATE, TIME, 0, 91214, 2) +
            L(END_MARKER))
    return (T('Hard Disk') + T(MAGIC) + T('QEMU HARDDISK') + u32(2) + PHY +
            partition(1, 0, 'FAT32', 'Deep Search', 0, 16777216, 0, 16777216, 16777216 * 512) +
            FAT32_GEOMETRY + FAT32_GEOMETRY + T('FAT32') +
            u64(len(FAT_ROWS)) + b''.join(row(*r) for r in FAT_ROWS) + u64(3) + tree +
            T('Disk 1') + u64(0))


def basic_ntfs_logical():
    tree = (L('Root') + root_record(False) +
            L('\tDocuments') + record('Documents', 64, 5, FILETIME, 0, 0, None, 2) +
            L(END_MARKER))
    files = u64(2) + file_row(*NTFS_FILES[0]) + file_row(*NTFS_FILES[1]) + u32(1)
    return (T('Logical') + T(MAGIC) + T('QEMU HARDDISK') + u32(1) + T('LOG') + T('\\\\.\\D:') + u64(32767) +
            partition(1, 0, 'NTFS', 'Basic Search', 0, 32767, 0, 32767, 32767 * 512) +
            NTFS_GEOMETRY + NTFS_GEOMETRY + T('NTFS') + u64(1) + tree + files + T('D:') + u64(2048))


def deep_exfat_recognised():
    tree = (L('Root') + root_record(True) +
            L('\tDocuments') + record('Documents', 7, 5, DATE, TIME, 0, 4096, 1) +
            L(END_MARKER))
    files = (u64(2) +
             file_row(5, 4136, 'readme.txt', 12, '15-JUL-202414:30:20', '%d' % DATE, '%d' % TIME) +
             file_row(7, 4144, 'Notes.txt', 700, '15-JUL-202414:30:20', '%d' % DATE, '%d' % TIME) +
             u32(1) + u32(0))
    return (T('Recognised') + T(MAGIC) + T('QEMU HARDDISK') + u32(2) + T('LOG') + T('\\\\.\\E:') + u64(32768) +
            partition(1, 0, 'exFAT', 'Deep Search', 0, 32768, 0, 32768, 32768 * 512) +
            geometry(32, 8, 0, 5, 0, 4080, 2048, 0, 0, 0, 0, 0) * 2 + T('exFAT') + u64(1) + tree + files +
            T('EXFAT TEST') + u64(0))


def only_root():
    return (T('part') + T(MAGIC) + T('QEMU HARDDISK') + u32(1) + PHY +
            partition(1, 0, 'FAT16', 'Basic Search', 63, 32823, 63, 32823, 32823 * 512) +
            FAT16_GEOMETRY + FAT16_GEOMETRY + T('FAT16') + u64(0) +
            L('Root') + root_record(False) + L(END_MARKER) + T('Disk 1 ( Partition 1 / FAT16 /  16.00 MB )') + u64(63))


def long_names():
    names = ['A' * 254, 'B' * 255, 'Ü' + 'c' * 299]
    tree = L('Root') + root_record(False)
    for i, name in enumerate(names):
        tree += L('\t' + name) + record(name, 3 + i, 0, DATE, TIME, 0, None, 0)
    tree += L(END_MARKER)
    return (T('part') + T(MAGIC) + T('QEMU HARDDISK') + u32(1) + PHY + FAT32_PARTITION + FAT32_GEOMETRY +
            FAT32_GEOMETRY + T('FAT32') + u64(3) + tree + T('') + u64(2048))


def zero_record():
    zero = record('', 0, 0, 0, 0, 0, None, 0)
    tree = (L('Root') + root_record(False) +
            L('\tDocuments') + record('Documents', 3, 0, DATE, TIME, 0, None, 6) +
            L('\t\tLost folder') + zero +
            L('\tRoot') + zero +
            L(END_MARKER))
    return (T('part') + T(MAGIC) + T('QEMU HARDDISK') + u32(1) + PHY + FAT32_PARTITION + FAT32_GEOMETRY +
            FAT32_GEOMETRY + T('FAT32') + u64(1) + tree + T('Disk 1 ( Partition 1 / FAT32 /  39.99 MB )') +
            u64(2048))


# ---- older layouts ---------------------------------------------------------

def older_basic_ntfs():
    tree = (L('Root') + root_record(False, current=False) +
            L('\tDocuments') + record('Documents', 64, 5, FILETIME, 0, 0) +
            L('\t\tProjekte') + record('Projekte', 65, 64, FILETIME, 0, 0) +
            L(END_MARKER))
    files = (u64(3) + b''.join(file_row(*f, six=True) for f in NTFS_FILES[:3]) + u32(1))
    return (T('Hard Disk') + T('KZUWIN7SR2015') + T('QEMU HARDDISK') + u32(1) + PHY +
            partition(1, 0, 'NTFS', 'Basic Search', 2048, 34815, 2048, 34815, 34815 * 512) +
            NTFS_GEOMETRY + NTFS_GEOMETRY + T('NTFS') + u64(2) + tree + files +
            T('Disk 1 ( Partition 1 / NTFS /  16.00 MB )') + u64(2048))


def older_deep_ntfs():
    tree = (L('Root') + root_record(True, current=False) +
            L('\tDocuments') + record('Documents', 64, 5, FILETIME, 0, 0, 0) +
            L(END_MARKER))
    files = (u64(2) + b''.join(file_row(*f) for f in NTFS_FILES[:2]) + u32(1) +
             u32(1) + row(*NTFS_EXTENTS[0]))
    return (T('Hard Disk') + T('KZUWIN7SR2015') + T('QEMU HARDDISK') + u32(2) + PHY +
            partition(1, 0, 'NTFS', 'Deep Search', 2048, 34815, 0, 16777216, 16777216 * 512) +
            NTFS_GEOMETRY + NTFS_GEOMETRY + T('NTFS') + u64(1) + tree + files + T('Disk 1') + u64(0))


def oldest_zj_basic_fat():
    # Every text in the single-byte form; the tag is read and not looked at.
    tree = (L('Root') + root_record(False, current=False, text=T1) +
            L('\tMusée') + record('Musée', 3, 0, DATE, TIME, 0, text=T1) +
            L('\t\t€ Rechnungen') + record('€ Rechnungen', 4, 3, DATE, TIME, 1, text=T1) +
            L(END_MARKER))
    part = (u16(1) + u32(0) + T1('FAT16') + T1('Basic Search') + u64(63) + u64(32823) + u64(63) + u64(32823) +
            u64(32823 * 512))
    return (T1('ZJWIN7SR') + T1('part') + T1('QEMU HARDDISK') + u32(1) + T1('PHY') + T1(DISK_ID) + u16(1) +
            part + FAT16_GEOMETRY + FAT16_GEOMETRY + T1('FAT16') + u64(2) + tree)


def oldest_kzu_basic_ntfs():
    tree = (L('Root') + root_record(False, current=False) +
            L('\tDocuments') + record('Documents', 64, 5, FILETIME, 0, 0) +
            L(END_MARKER))
    files = u64(1) + file_row(*NTFS_FILES[2], six=True) + u32(1)
    return (T('KZUWIN7SR') + T('') + T('QEMU HARDDISK') + u32(1) + T('LOG') + T(DISK_ID) + u16(1) +
            partition(1, 0, 'NTFS', 'Basic Search', 2048, 34815, 2048, 34815, 34815 * 512) +
            NTFS_GEOMETRY + NTFS_GEOMETRY + T('NTFS') + u64(1) + tree + files +
            T('Disk 1 ( Partition 1 / NTFS /  16.00 MB )') + u32(2048)[:3])


def fat32_basic_head(folder_count):
    return (T('part') + T(MAGIC) + T('QEMU HARDDISK') + u32(1) + PHY + FAT32_PARTITION + FAT32_GEOMETRY +
            FAT32_GEOMETRY + T('FAT32') + u64(folder_count))


def tree_oddities():
    tree = (L('Root') + root_record(False) +
            L('\tA') + record('A', 3, 0, DATE, TIME, 0, None, 0) +
            L('\t\t\t\tB') + record('B', 4, 3, DATE, TIME, 0, None, 0) +
            L('') +
            # "\tC", CR, then "D" without LF: the line reads "\tCD".
            '\tC\rD'.encode('utf-16-le') + record('C', 5, 0, DATE, TIME, 0, None, 0) +
            L('\t\tE') + record('E', 6, 5, DATE, TIME, 0, None, 0) +
            L(END_MARKER))
    return fat32_basic_head(4) + tree + T('Disk 1') + u64(2048)


def first_line_tab():
    tree = (L('\t') +
            L('\t\tA') + record('A', 3, 0, DATE, TIME, 0, None, 0) +
            L('B') + record('B', 4, 0, DATE, TIME, 0, None, 0) +
            L(END_MARKER))
    return fat32_basic_head(2) + tree + T('Disk 1') + u64(2048)


def count_zero_with_items():
    tree = (L('Root') + root_record(False) +
            L('\tX') + record('', 0, 0, 0, 0, 0, None, 0) +
            L('\t\tY') + record('', 0, 0, 0, 0, 0, None, 0) +
            L(END_MARKER))
    return fat32_basic_head(0) + tree + T('Disk 1') + u64(2048)


def no_trailer():
    return (fat32_basic_head(1) + L('Root') + root_record(False) + L('\tA') +
            record('A', 3, 0, DATE, TIME, 0, None, 0) + L(END_MARKER))


def tree_ends_at_eof():
    return (fat32_basic_head(2) + L('Root') + root_record(False) +
            L('\tA') + record('A', 3, 0, DATE, TIME, 0, None, 0) +
            L('\tB') + record('B', 4, 0, DATE, TIME, 0, None, 0))


SAMPLES = {
    'basic-fat32.VQL': basic_fat32,
    'deep-ntfs.VQL': deep_ntfs,
    'deep-fat32.VQL': deep_fat32,
    'basic-ntfs-logical.VQL': basic_ntfs_logical,
    'deep-exfat-recognised.VQL': deep_exfat_recognised,
    'only-root.VQL': only_root,
    'long-names.VQL': long_names,
    'zero-record.VQL': zero_record,
    'older-basic-ntfs.VQL': older_basic_ntfs,
    'older-deep-ntfs.VQL': older_deep_ntfs,
    'oldest-zj-basic-fat.VQL': oldest_zj_basic_fat,
    'oldest-kzu-basic-ntfs.VQL': oldest_kzu_basic_ntfs,
    'tree-oddities.VQL': tree_oddities,
    'first-line-tab.VQL': first_line_tab,
    'count-zero-with-items.VQL': count_zero_with_items,
    'no-trailer.VQL': no_trailer,
    'tree-ends-at-eof.VQL': tree_ends_at_eof,
}


def main():
    os.makedirs(CORPUS, exist_ok=True)
    for name, make in SAMPLES.items():
        data = make()
        with open(os.path.join(HERE, name), 'wb') as f:
            f.write(data)
        shutil.copyfile(os.path.join(HERE, name), os.path.join(CORPUS, name))
        print('%-28s %6d bytes' % (name, len(data)))


if __name__ == '__main__':
    main()
