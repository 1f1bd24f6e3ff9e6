#!/usr/bin/env python3
"""Prints a current-generation Basic scan log section by section, one value a
line, so that two logs can be compared with diff (the golden logs of
scan_log_golden_test.cpp): python3 dump_scan_log.py fat16-basic.VQL"""
import struct
import sys

END_MARKER = 'KZUWIN7SR2015/:*?"<>|'


class Log:
    def __init__(self, data):
        self.b, self.i = data, 0

    def num(self, fmt):
        v = struct.unpack_from('<' + fmt, self.b, self.i)[0]
        self.i += struct.calcsize(fmt)
        return v

    def text(self):
        n = self.num('B')
        wide = False
        if n == 0xFF and self.b[self.i:self.i + 2] == b'\xfe\xff':
            self.i += 2
            wide, n = True, self.num('B')
        if n == 0xFF:
            n = self.num('H')
            if n == 0xFFFF:
                n = self.num('I')
        size = 2 * n if wide else n
        raw = self.b[self.i:self.i + size]
        self.i += size
        return raw.decode('utf-16-le' if wide else 'cp1252')

    def line(self):
        end = self.b.index('\r\n'.encode('utf-16-le'), self.i)
        while (end - self.i) % 2:
            end = self.b.index('\r\n'.encode('utf-16-le'), end + 1)
        text = self.b[self.i:end].decode('utf-16-le')
        self.i = end + 4
        return text


def main(path):
    log = Log(open(path, 'rb').read())
    print('kind', log.text(), '| magic', log.text(), '| drive', log.text(), '| mode', log.num('I'))
    tag = log.text()
    if tag == 'LOG':
        print('source LOG', log.text(), log.num('Q'))
    else:
        print('source', tag, log.text(), log.num('H'))
    print('partition', log.num('H'), log.num('I'), log.text(), log.text(), *[log.num('Q') for _ in range(5)])
    for name in ('geometry', 'descriptor'):
        print(name, *[log.num(f) for f in 'IIIIIQIIQQII'])
    fs_name = log.text()
    print('fs name', fs_name)
    print('folders', log.num('Q'))
    first = log.line()
    print('item', repr(first), 'record', log.text(), *[log.num(f) for f in 'IIQQIQ'])
    while True:
        item = log.line()
        if item == END_MARKER:
            print('end marker')
            break
        print('item', repr(item), 'record', log.text(), *[log.num(f) for f in 'IIQQIQ'])
    if fs_name in ('NTFS', 'exFAT'):
        for _ in range(log.num('Q')):
            print('file', [log.text() for _ in range(7)])
        print('sorted', log.num('I'))
    print('description', log.text(), '| volume start', log.num('Q'))
    print('bytes left', len(log.b) - log.i)


if __name__ == '__main__':
    main(sys.argv[1])
