#!/usr/bin/env bash
# Builds the document fuzzer with clang and runs it for N seconds (default 60)
# over a scratch copy of the seed corpus; nothing is written into the sources.
# Exits non-zero on any crash, leak, sanitizer report or broken property.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build-fuzz
CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVXL_BUILD_FUZZ=ON \
  -DVXL_BUILD_TESTS=OFF -DVXL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target xml_fuzz
scratch=$(mktemp -d /tmp/vxl_fuzz.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/corpus" "$scratch/artifacts" "$scratch/tmp"
cp fuzz/corpus/* "$scratch/corpus/"
status=0
TMPDIR="$scratch/tmp" ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/xml_fuzz" \
  -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$scratch/artifacts/" "$scratch/corpus" || status=$?
if [ "$status" -ne 0 ]; then
  mkdir -p "$build/fuzz-artifacts"
  cp -r "$scratch/artifacts/." "$build/fuzz-artifacts/"
  echo "xml_fuzz failed ($status); inputs kept in $build/fuzz-artifacts" >&2
fi
exit "$status"
