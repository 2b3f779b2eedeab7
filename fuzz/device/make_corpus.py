#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_qxdisplay into corpus-qxdisplay/.

Each seed is one short session in the input layout of QxdisplayFuzz.cpp:
command selector and arguments, then for every output report the command
writes a control byte (messages to release) and the released input reports."""
import os
import struct

BODY = 63  # input report after its report id byte
FIRST_ROOM = BODY - 8  # marker, code, total length
LATER_ROOM = BODY - 4  # marker


def message(code, payload):
    """Input reports (without report id) of one framed reply."""
    payload = bytes(payload)
    reports = [struct.pack('<IHH', 0x55AAAA55, code, len(payload) + 4) + payload[:FIRST_ROOM]]
    rest = payload[FIRST_ROOM:]
    while rest:
        reports.append(struct.pack('<I', 0x55AAAA55) + rest[:LATER_ROOM])
        rest = rest[LATER_ROOM:]
    return b''.join(r.ljust(BODY, b'\0') for r in reports)


def reply(code, payload):
    """Control byte releasing one message, then the message."""
    return b'\x01' + message(code, payload)


def status(code, value=0xFF):
    return reply(code, [value, 0])


def u16(v):
    return struct.pack('<H', v)


def u32(v):
    return struct.pack('<I', v)


def entry(name, size, attributes=0x20):
    return bytes([0xFF, attributes]) + u32(size) + name.encode() + b'\0'


def block(data):
    return bytes([0xFF]) + u32(len(data)) + bytes(data)


info = u32(0x01020300) + u32(0x10203040) + bytes(16) + u32(1) + u32(0x10008000) + bytes(20) + b'\0'
identity = b'QX0001234'.ljust(24, b'\0') + bytes(range(8)) + u32(0x00010200) + bytes(4) + b'\0'
file_data = bytes(i % 251 for i in range(1500))

seeds = {
    'device-info': b'\x00' + reply(0x4000, info),
    'boot-info': b'\x01' + reply(0x6000, info),
    'identity': b'\x02' + u32(0x10008000) + reply(0x4001, identity),
    'boot-memory': b'\x03' + u32(0x1000) + u16(100) + reply(0x6001, bytes(range(101))),
    'list-files': b'\x04' + reply(0x4010, entry('LOG001.displog', 1500)) + reply(0x4011, entry('Maps', 0, 0x10)) +
    b'\x00',
    'find-first-next': b'\x05' + reply(0x4010, entry('LOG002.displog', 7)) + reply(0x4011, entry('X', 1)),
    # Ended by the unit's 5-byte end entry, and refused by a status after one entry.
    'list-files-end': b'\x04' + reply(0x4010, entry('LOG001.displog', 1500)) + reply(0x4011, [0x03, 0, 0, 0, 0xFC]),
    'list-files-refused': b'\x04' + reply(0x4010, entry('LOG001.displog', 1500)) + reply(0x4011, [0x08, 0xF7]),
    'read-block': b'\x06' + u32(0) + u16(16) + reply(0x4013, block(file_data[:16])),
    'read-block-status': b'\x06' + u32(0) + u16(16) + reply(0x4013, [0x03, 0]),
    # A stray reply of another command comes first; the block follows it.
    'read-block-two-messages': b'\x06' + u32(0) + u16(32) + b'\x02' + message(0x4000, info) +
    message(0x4013, block(file_data[:32])),
    'get-file': b'\x07' + u16(1500) + reply(0x4013, block(file_data[:1024])) + reply(0x4013, block(file_data[1024:])),
    # Probe, remove, then one block of 100 bytes in three output reports.
    'put-file': b'\x08' + u16(100) + reply(0x4013, block(b'')) + status(0x4014) + b'\x00\x00' + status(0x4012),
    'remove-file': b'\x09' + status(0x4014, 0x02),
    'probe-file': b'\x0a' + reply(0x4013, block(b'')),
    'program-block': b'\x0b' + b'\xc0' + u32(0x10008000) + u16(8) + status(0x6002),
    'erase-sector': b'\x0c' + u32(3) + u32(0x10008000) + status(0x6003, 0x05),
    'show-text-finish': b'\x0d' + status(0x6005) + b'\x00',
    # The unit is unplugged after the first entry: the listing ends and the
    # next command finds the device closed.
    'unplugged-while-listing': b'\x04' + reply(0x4010, entry('LOG001.displog', 1500)) + b'\x40' + b'\x00' + b'\x01',
    # A write that is not taken ends the command at once.
    'write-fails': b'\x00' + b'\x80' + b'\x0c' + u32(1) + u32(2) + status(0x6003),
}

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus-qxdisplay')
os.makedirs(here, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(here, name), 'wb') as out:
        out.write(data)
