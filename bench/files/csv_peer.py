#!/usr/bin/python3
"""The same conversion as tessaly-cli convert, written the straightforward way with numpy and
pandas: the yardstick of the conversion benchmark.

    csv_peer.py LOG.displog OUT.csv INTERVAL

Reads every record, gives each sample the time of the last time stamp before it, interpolates
each channel linearly at every multiple of the interval below the log's duration (no value
before a channel's first sample, at or after its last, or next to a sample without value) and
writes one row per instant with one column per channel. The columns are named by identifier
and every number has three decimals, so the text is not the converter's byte for byte; the work
is the same.
"""
import sys

import numpy as np
import pandas as pd

FORMAT1_TAG = 0x10000000
FORMAT2_TAG = 0x20000000
NO_VALUE_WORD = 0xFFFFFFFF


def read_records(path):
    raw = np.fromfile(path, dtype=np.uint8)
    if raw.size < 12:
        raise SystemExit("%s: shorter than its header" % path)
    tag, tick_rate, offset = (int(x) for x in raw[:12].view("<u4"))
    if tag == FORMAT2_TAG:
        record = np.dtype([("id", "<u4"), ("word", "<u4")])
        stamp_id = 0
    elif tag == FORMAT1_TAG:
        record = np.dtype([("id", "<u2"), ("word", "<u4")])  # packed: 6 bytes
        stamp_id = 0x00FF
    else:
        raise SystemExit("%s: unknown format tag" % path)
    body = raw[max(offset, 12):]
    count = body.size // record.itemsize
    records = body[: count * record.itemsize].view(record)
    return records["id"].astype(np.uint32), records["word"], stamp_id, tick_rate


def channels_of(path):
    ids, words, stamp_id, tick_rate = read_records(path)
    is_stamp = ids == stamp_id
    stamp_index = np.cumsum(is_stamp) - 1  # the last time stamp at or before each record
    counters = words[is_stamp]
    if counters.size == 0:
        return {}, 0.0
    ticks = (counters - counters[0]).astype(np.uint32)  # wraps through 2^32
    stamp_times = ticks.astype(np.float64) / tick_rate if tick_rate else np.zeros(counters.size)

    is_sample = ~is_stamp & (stamp_index >= 0)
    sample_ids = ids[is_sample]
    sample_words = words[is_sample]
    sample_times = stamp_times[stamp_index[is_sample]]
    values = sample_words.view(np.float32).astype(np.float64)
    values[sample_words == NO_VALUE_WORD] = np.nan

    unique, first = np.unique(sample_ids, return_index=True)
    channels = {}
    duration = 0.0
    for channel_id in unique[np.argsort(first)]:  # in order of first appearance
        mine = sample_ids == channel_id
        channels[int(channel_id)] = (sample_times[mine], values[mine])
        duration = max(duration, float(sample_times[mine][-1]))
    return channels, duration


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    source, destination, interval = sys.argv[1], sys.argv[2], float(np.float32(sys.argv[3]))
    channels, duration = channels_of(source)
    instants = np.arange(0.0, duration, interval)
    columns = {"Time": instants}
    for channel_id, (times, values) in channels.items():
        column = np.interp(instants, times, values, left=np.nan, right=np.nan)
        column[instants >= times[-1]] = np.nan
        columns["ID (0x%08X)" % channel_id] = column
    frame = pd.DataFrame(columns)
    frame.to_csv(destination, index=False, float_format="%.3f", na_rep="NAN", lineterminator="\r\n")


if __name__ == "__main__":
    main()
