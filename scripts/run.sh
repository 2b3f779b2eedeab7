#!/usr/bin/env bash
# Builds the tool and runs it against the simulated display unit, whose SD
# card lives in CARD (default: ~/.local/share/tessaly/simcard).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-Debug} >/dev/null
cmake --build build -j"$(nproc)" --target tessaly-cli
card=${CARD:-${XDG_DATA_HOME:-$HOME/.local/share}/tessaly/simcard}
cli=build/cli/tessaly-cli
set -x
"$cli" --simulate="$card" info
"$cli" --simulate="$card" ls 'A:\Maps'
"$cli" --simulate="$card" ls 'A:\Logs'
