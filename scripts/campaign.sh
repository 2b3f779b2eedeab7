#!/usr/bin/env bash
# The random fault campaign at length: tessaly-cli against the simulated unit
# under random fault plans, every outcome checked (tests/campaign).
#   TRIALS (default 1000), JOBS (parallel trials, default 8), SEED (default random)
#   BUILD_DIR, BUILD_TYPE, CMAKE_ARGS as for scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
build=${BUILD_DIR:-build}
# shellcheck disable=SC2086
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-Debug} ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)" --target tessaly_fault_campaign tessaly-cli
"$build/tests/campaign/tessaly_fault_campaign" --cli "$build/cli/tessaly-cli" \
  --trials "${TRIALS:-1000}" --jobs "${JOBS:-8}" --seed "${SEED:-$RANDOM}"
