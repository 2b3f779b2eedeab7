#!/usr/bin/env python3
"""tessaly-cli stats checked against stats_peer.py, a decoding of the log written independently
of the reader: counts exactly, minimum, maximum and mean to within half a unit of the last
decimal tessaly-cli prints.

    stats_peer_test.py TESSALY_CLI TESSALY_MAKE_DISPLOG

For a log of each format from the simulator's generator (samples without value, dropped samples,
a channel that starts late and one that stops early, a wrapping tick counter): the whole log, a
range whose bounds are sample times, and chosen channels over a range. The test first makes sure
that its cases tell the rules apart: a bound taken as exclusive, or a sample without value left
uncounted, changes the peer's table.
"""
import math
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import stats_peer  # noqa: E402

HEADER = "channel\tcount\tmin\tmax\tmean"
failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def run_cli(cli, log, options):
    result = subprocess.run([cli, "stats", log] + options, capture_output=True, text=True)
    if result.returncode != 0:
        raise SystemExit("tessaly-cli stats %s %s: exit %d\n%s" % (log, " ".join(options), result.returncode, result.stderr))
    lines = result.stdout.splitlines()
    if not lines or lines[0] != HEADER:
        raise SystemExit("tessaly-cli stats %s: header %r" % (log, lines[:1]))
    return [line.split("\t") for line in lines[1:]]


def decimals_of(text):
    return len(text) - text.index(".") - 1 if "." in text else 0


def compare(case, cli_rows, peer_rows):
    if len(cli_rows) != len(peer_rows):
        fail("%s: %d channels, the peer has %d" % (case, len(cli_rows), len(peer_rows)))
        return
    for row, (cli, peer) in enumerate(zip(cli_rows, peer_rows)):
        where = "%s, row %d (%s, peer %s)" % (case, row + 1, cli[0], peer[0])
        if len(cli) != 5:
            fail("%s: %d fields" % (where, len(cli)))
            continue
        if int(cli[1]) != peer[1]:
            fail("%s: count %s, the peer counts %d" % (where, cli[1], peer[1]))
        for column, text, exact in zip(("min", "max", "mean"), cli[2:], peer[2:]):
            if exact is None:
                if text != "NAN":
                    fail("%s: %s %s, the peer has no finite value" % (where, column, text))
                continue
            if text == "NAN":
                fail("%s: %s NAN, the peer has %r" % (where, column, exact))
                continue
            half_unit = 0.5 * 10.0 ** -decimals_of(text)
            if abs(float(text) - exact) > half_unit + 1e-9 * max(1.0, abs(exact)):
                fail("%s: %s %s, the peer has %r" % (where, column, text, exact))
        if decimals_of(cli[4]) < decimals_of(cli[2]) or decimals_of(cli[2]) != decimals_of(cli[3]):
            fail("%s: decimals of min, max and mean differ: %s" % (where, cli[2:]))


def sample_times(channels):
    return sorted({t for channel in channels for t in channel.times})


def check_log(cli, log):
    channels = stats_peer.read_channels(log)
    times = sample_times(channels)
    whole = stats_peer.table(channels)
    # Samples without value are there, and counted.
    if not any(count > 0 and count != sum(1 for w in c.words if w != stats_peer.NO_VALUE_WORD)
               for c, (_, count, _, _, _) in zip(channels, whole)):
        raise SystemExit("%s: no sample without value, the test would not see them lost" % log)
    compare(log + ", whole log", run_cli(cli, log, []), whole)

    # Bounds on sample times, before the late channel starts: a bound taken as exclusive changes
    # the counts, and the late channel has no sample at all.
    start = times[len(times) // 5]
    end = times[len(times) // 2]
    ranged = stats_peer.table(channels, start, end)
    open_range = stats_peer.table(channels, math.nextafter(start, math.inf), math.nextafter(end, -math.inf))
    if [r[1] for r in ranged] == [r[1] for r in open_range]:
        raise SystemExit("%s: the range's bounds hold no samples, the test would not see them lost" % log)
    if not any(r[1] == 0 for r in ranged):
        raise SystemExit("%s: every channel has samples in the range, NAN is not checked" % log)
    bounds = ["--from", repr(start), "--to", repr(end)]
    compare("%s, %s" % (log, " ".join(bounds)), run_cli(cli, log, bounds), ranged)

    # One channel and then two, by name, over the range: the names from the whole log's table.
    names = [row[0] for row in run_cli(cli, log, [])]
    unique = [i for i, name in enumerate(names) if names.count(name) == 1]
    valued = [i for i in unique if ranged[i][1] > 0 and ranged[i][2] is not None]
    if not valued:
        raise SystemExit("%s: no uniquely named channel with values in the range" % log)
    for picked in ([valued[0]], [valued[-1], valued[0]]):
        options = bounds + [arg for i in picked for arg in ("--channel", names[i])]
        compare("%s, %s" % (log, " ".join(options)), run_cli(cli, log, options),
                stats_peer.table(channels, start, end, picked))


def main(argv):
    if len(argv) != 2:
        raise SystemExit(__doc__)
    cli, make_log = argv
    with tempfile.TemporaryDirectory() as folder:
        for form, seconds, count, seed in ((2, 40, 10, 3), (1, 20, 6, 4)):
            log = os.path.join(folder, "format%d.displog" % form)
            subprocess.run([make_log, log, str(form), str(seconds), str(count), str(seed)], check=True)
            check_log(cli, log)
    if failures:
        raise SystemExit("%d differences from the peer" % len(failures))
    print("tessaly-cli stats agrees with the peer")


if __name__ == "__main__":
    main(sys.argv[1:])
