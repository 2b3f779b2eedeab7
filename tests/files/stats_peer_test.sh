#!/bin/sh
# tessaly-cli stats against the independent decoding of stats_peer.py; skipped (exit 77) where
# there is no python3.
#     stats_peer_test.sh TESSALY_CLI TESSALY_MAKE_DISPLOG
if ! command -v python3 >/dev/null 2>&1; then
    echo "python3 not found: skipped"
    exit 77
fi
exec python3 "$(dirname "$0")/stats_peer_test.py" "$@"
