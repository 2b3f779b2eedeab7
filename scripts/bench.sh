#!/usr/bin/env bash
# Builds the benchmarks in release mode (in build-release) and runs each of them. The arguments go
# to every benchmark, e.g. --benchmark_filter=Paint, or --benchmark_min_time=0.01 for a quick pass
# (Google Benchmark 1.7, Debian 12's, takes the time as plain seconds, without an "s").
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release -j"$(nproc)"
for bench in $(find build-release/bench -type f -executable -name '*_bench' | sort); do
  echo "=== $bench"
  "$bench" "$@"
done
