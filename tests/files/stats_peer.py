#!/usr/bin/env python3
"""Statistics of a display log's raw samples, decoded from the file's bytes with nothing but the
standard library: the yardstick that tessaly-cli stats is checked against.

    stats_peer.py LOG.displog [--from SECONDS] [--to SECONDS] [--index N]...

Prints channel<TAB>count<TAB>min<TAB>max<TAB>mean and one line per channel (in the order the
channels first appear after the first time stamp, or the channels --index names): the count of
samples whose time t satisfies FROM <= t <= TO, with or without a value, and the least, greatest
and mean of their finite values at full precision, NAN when there is none. A channel is shown by
its identifier ("0x00000123"): the names of identifiers are not this program's business.

The file: a header of three little-endian 32-bit words (format tag, ticks per second, offset of
the first record; records never start inside the header). Format 1 (tag 0x10000000) has records
of a 16-bit identifier and a 32-bit word, format 2 (tag 0x20000000) of a 32-bit identifier and a
32-bit word; a fragment shorter than a record at the end is not a record. The identifier 0x00FF
(format 1) or 0 (format 2) marks a time stamp whose word is a tick counter that may wrap through
2^32; any other record is a sample of the channel with that identifier, its word the bits of a
single-precision value or 0xFFFFFFFF for a sample without value. A sample's time is that of the
last time stamp before it, in seconds after the first: (counter - first counter) modulo 2^32
divided by the tick rate, 0 for every time stamp when the tick rate is 0. Samples before the
first time stamp belong to no moment and to no channel.
"""
import math
import struct
import sys

FORMAT1_TAG = 0x10000000
FORMAT2_TAG = 0x20000000
NO_VALUE_WORD = 0xFFFFFFFF
HEADER_SIZE = 12


class Channel:
    def __init__(self, identifier):
        self.identifier = identifier
        self.times = []
        self.words = []


def read_channels(path):
    """The channels of the log in order of first appearance, each with its samples' times and
    value words in file order."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < HEADER_SIZE:
        raise SystemExit("%s: shorter than its header" % path)
    tag, tick_rate, offset = struct.unpack_from("<III", data, 0)
    if tag == FORMAT2_TAG:
        layout, stamp_id = struct.Struct("<II"), 0
    elif tag == FORMAT1_TAG:
        layout, stamp_id = struct.Struct("<HI"), 0x00FF
    else:
        raise SystemExit("%s: not a display log (format tag 0x%08X)" % (path, tag))
    start = max(offset, HEADER_SIZE)
    whole = (len(data) - start) // layout.size * layout.size if len(data) > start else 0

    channels = {}
    first_counter = None
    now = 0.0
    for identifier, word in layout.iter_unpack(data[start:start + whole]):
        if identifier == stamp_id:
            if first_counter is None:
                first_counter = word
            elif tick_rate != 0:
                now = ((word - first_counter) % 2**32) / tick_rate
            continue
        if first_counter is None:
            continue
        channel = channels.get(identifier)
        if channel is None:
            channel = channels[identifier] = Channel(identifier)
        channel.times.append(now)
        channel.words.append(word)
    return list(channels.values())


def value_of(word):
    return struct.unpack("<f", struct.pack("<I", word))[0]


def statistics(channel, start, end):
    """(count, minimum, maximum, mean) over the samples at times in [start, end]; the last three
    None without a finite value."""
    count = 0
    finite = []
    for t, word in zip(channel.times, channel.words):
        if not start <= t <= end:
            continue
        count += 1
        if word == NO_VALUE_WORD:
            continue
        value = value_of(word)
        if math.isfinite(value):
            finite.append(value)
    if not finite:
        return count, None, None, None
    return count, min(finite), max(finite), math.fsum(finite) / len(finite)


def table(channels, start=-math.inf, end=math.inf, indexes=None):
    chosen = channels if indexes is None else [channels[i] for i in indexes]
    return [("0x%08X" % c.identifier,) + statistics(c, start, end) for c in chosen]


def main(argv):
    args = list(argv)
    path = None
    start, end, indexes = -math.inf, math.inf, None
    while args:
        arg = args.pop(0)
        if arg in ("--from", "--to", "--index") and args:
            value = args.pop(0)
            if arg == "--from":
                start = float(value)
            elif arg == "--to":
                end = float(value)
            else:
                indexes = (indexes or []) + [int(value)]
        elif path is None and not arg.startswith("-"):
            path = arg
        else:
            raise SystemExit(__doc__)
    if path is None:
        raise SystemExit(__doc__)
    print("channel\tcount\tmin\tmax\tmean")
    for name, count, low, high, mean in table(read_channels(path), start, end, indexes):
        shown = ["NAN" if x is None else repr(x) for x in (low, high, mean)]
        print("\t".join([name, str(count)] + shown))


if __name__ == "__main__":
    main(sys.argv[1:])
