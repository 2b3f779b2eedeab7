#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_qxstandardfile, fuzz_displogfile and
fuzz_logplotdata into corpus-qxstandardfile/, corpus-displogfile/ and
corpus-logplotdata/: the readers' reference files and a few variations of them
(for fuzz_logplotdata each after a view: column count + 8, start and end as
float fractions of the log's span)."""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def write(folder, name, data):
    os.makedirs(os.path.join(here, folder), exist_ok=True)
    with open(os.path.join(here, folder, name), 'wb') as out:
        out.write(data)


# Firmware packages: header, table entries (type, revision, unused, size), end entry, data.
def header(table_offset):
    return struct.pack('<4I', 0x396B389C, 0, table_offset, 0)


def entry(kind, revision, size):
    return struct.pack('<4I', kind, revision, 0, size)


END = bytes(16)
IMAGE = bytes([0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88])
packages = {
    'worked-example': header(16) + entry(4, 1, 8) + END + IMAGE,
    'two-revisions': header(16) + entry(4, 2, 2) + entry(4, 1, 1) + entry(5, 0, 3) + END + b'\x02\x02\x01abc',
    'truncated-data': header(16) + entry(4, 1, 8) + END + IMAGE[:5],
    'end-entry-only': header(16) + END,
    'table-at-end': header(16),
}
for name, data in packages.items():
    write('corpus-qxstandardfile', name, data)

# Display logs: the format-2 reference log, its format-1 twin, and two channels
# with a sample without value, a sample before the first time stamp and a
# counter that wraps.
logs = {
    'worked-example-format2': struct.pack('<3I', 0x20000000, 1000, 12) +
    bytes.fromhex('0000000088130000' '0101000100005841' '0000000082140000' '0101000100006041'),
    'worked-example-format1': struct.pack('<3I', 0x10000000, 1000, 12) +
    bytes.fromhex('FF0088130000' '010100005841' 'FF0082140000' '010100006041'),
    'two-channels-wrap': struct.pack('<3I', 0x20000000, 100, 12) + struct.pack('<II', 0x02000001, 0) +
    struct.pack('<II', 0, 0xFFFFFFF0) + struct.pack('<If', 0x02000001, 1.5) + struct.pack('<If', 0x01000101, -2.0) +
    struct.pack('<II', 0, 0x10) + struct.pack('<II', 0x02000001, 0xFFFFFFFF) + struct.pack('<If', 0x01000101, 4.0) +
    b'\x01\x02\x03',
}
for name, data in logs.items():
    write('corpus-displogfile', name, data)

# Views over the logs above and over one whose time stamps go back.
def view(columns, start, end):
    return struct.pack('<Bff', columns + 8, start, end)


back = struct.pack('<3I', 0x20000000, 1000, 12)
for i, counter in enumerate([100, 200, 300, 150, 400, 500]):
    back += struct.pack('<II', 0, counter) + struct.pack('<If', 0x01000101, float(i * i - 3))
    if i % 2 == 0:
        back += struct.pack('<II', 0x01000102, 0xFFFFFFFF)
    else:
        back += struct.pack('<If', 0x01000102, -float(i))
views = {
    'whole-16': view(16, 0.0, 1.0),
    'part-100': view(100, 0.25, 0.5),
    'outside-3': view(3, -2.0, -1.0),
    'nan-5': view(5, float('nan'), 1.0),
}
for log_name, log in list(logs.items()) + [('time-goes-back', back)]:
    for view_name, prefix in views.items():
        write('corpus-logplotdata', log_name + '-' + view_name, prefix + log)
