#!/usr/bin/env bash
# Gets under a CPU hog: two busy processes per core while tessaly-cli gets a
# 590 KB file through the simulated unit's USB full-speed link, again and
# again; every copy must arrive whole and byte-identical.
#   GETS (default 50), JOBS (gets at once, default 1), BUILD_DIR (default build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
build=${BUILD_DIR:-build-release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target tessaly-cli
cli="$build/cli/tessaly-cli"

work=$(mktemp -d)
hogs=()
cleanup() {
  for pid in "${hogs[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/card/Maps" "$work/card/Logs"
head -c 604160 /dev/urandom > "$work/card/Maps/Big.qxm"

for _ in $(seq $(( 2 * $(nproc) ))); do
  ( while :; do :; done ) &
  hogs+=($!)
done

# Gets run at once each have a simulated unit of their own (a card folder of
# their own): programs on one unit wait for each other.
one_get() {
  local n=$1 dest="$work/dest-$1" card="$work/card-$1"
  mkdir -p "$dest"
  cp -r "$work/card" "$card"
  if TESSALY_SIM_LINK=full-speed TESSALY_SIM_FAULTS= "$cli" --simulate="$card" \
       get 'A:\Maps' Big.qxm --to "$dest" >/dev/null 2>"$dest.err" &&
     cmp -s "$work/card/Maps/Big.qxm" "$dest/Big.qxm"; then
    echo "get $n: identical"
  else
    echo "get $n: FAILED ($(tr '\n' ' ' < "$dest.err"))"
  fi
  rm -rf "$dest" "$dest.err" "$card"
}
export -f one_get
export work cli
seq "${GETS:-50}" | xargs -P "${JOBS:-1}" -I{} bash -c 'one_get {}' | tee "$work/results"
good=$(grep -c identical "$work/results" || true)
total=$(wc -l < "$work/results")
echo "$good passed, $(( total - good )) failed"
[ "$good" -eq "$total" ]
