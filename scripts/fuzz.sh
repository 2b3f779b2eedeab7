#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each one for a short
# fixed time on a scratch copy of its seed corpus (fuzz/<area>/corpus-<name>/).
# Exits non-zero when a target fails to build or finds a crash, leak, time-out
# or out-of-memory; the input that did it is kept under the build folder.
#
#   TESSALY_FUZZ_SECONDS    run time per target (default 20)
#   TESSALY_FUZZ_BUILD_DIR  build folder (default build-fuzz in the checkout)
#   TESSALY_FUZZ_TARGETS    space-separated subset of targets to run
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${TESSALY_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${TESSALY_FUZZ_SECONDS:-20}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DTESSALY_BUILD_FUZZ=ON -DTESSALY_BUILD_QT=OFF \
    -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF -DTESSALY_BUILD_HIDAPI=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

targets=${TESSALY_FUZZ_TARGETS:-$(cmake --build "$build" --target help | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): .*/\1/p' | sort -u)}
if [ -z "$targets" ]; then
    echo "fuzz.sh: no fuzz targets configured" >&2
    exit 1
fi
# shellcheck disable=SC2086
cmake --build "$build" --target $targets -j2

scratch=$(mktemp -d)
# The targets keep their scratch files in the temporary folder.
export TMPDIR=$scratch/tmp
mkdir -p "$TMPDIR"
trap 'rm -rf "$scratch"' EXIT
failed=()
for target in $targets; do
    name=${target#fuzz_}
    exe=$(find "$build/fuzz" -type f -name "$target" -perm -u+x | head -n 1)
    seeds=$(find "$root/fuzz" -type d -name "corpus-$name" | head -n 1)
    artifacts=$build/fuzz-artifacts/$name
    mkdir -p "$scratch/$name" "$artifacts"
    if [ -n "$seeds" ]; then
        cp "$seeds"/* "$scratch/$name"/
    fi
    echo "=== $target: ${seconds}s"
    if ! "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$scratch/$name" >"$scratch/$name.log" 2>&1; then
        tail -n 60 "$scratch/$name.log"
        echo "=== $target FAILED; reproducer in $artifacts/" >&2
        failed+=("$target")
    else
        grep -E '^stat::(number_of_executed_units|new_units_added)' "$scratch/$name.log" || true
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz.sh: failed: ${failed[*]}" >&2
    exit 1
fi
echo "fuzz.sh: all targets ran clean"
