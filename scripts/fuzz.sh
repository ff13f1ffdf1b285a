#!/usr/bin/env bash
# Builds the document fuzzer with clang and runs it for N seconds (default 60),
# starting from the kept corpus fuzz/corpus (copied to a scratch directory, so
# a run writes nothing into the sources). Exits non-zero on any crash, leak,
# sanitizer report or broken property.
# With --merge, after a clean run the inputs it found are merged into
# fuzz/corpus with -merge=1 (each kept input adds coverage the others lack),
# so the next run starts where this one ended; commit the corpus afterwards.
# Usage: scripts/fuzz.sh [SECONDS] [--merge]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
merge=${2:-}
build=build-fuzz
CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVXL_BUILD_FUZZ=ON \
  -DVXL_BUILD_TESTS=OFF -DVXL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target xml_fuzz
scratch=$(mktemp -d /tmp/vxl_fuzz.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/corpus" "$scratch/artifacts" "$scratch/tmp" "$scratch/merged"
cp fuzz/corpus/* "$scratch/corpus/"
echo "starting from $(ls fuzz/corpus | wc -l) kept inputs"
fuzz() {
  TMPDIR="$scratch/tmp" ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/xml_fuzz" \
    -max_len=4096 -rss_limit_mb=2048 -artifact_prefix="$scratch/artifacts/" "$@"
}
status=0
fuzz -max_total_time="$seconds" -print_final_stats=1 "$scratch/corpus" || status=$?
if [ "$status" -ne 0 ]; then
  mkdir -p "$build/fuzz-artifacts"
  cp -r "$scratch/artifacts/." "$build/fuzz-artifacts/"
  echo "xml_fuzz failed ($status); inputs kept in $build/fuzz-artifacts" >&2
  exit "$status"
fi
if [ "$merge" = "--merge" ]; then
  # The kept inputs first, so that of two inputs with the same coverage the
  # kept one stays; names are the inputs' hashes.
  fuzz -merge=1 "$scratch/merged" fuzz/corpus "$scratch/corpus" 2>"$scratch/merge.log" || {
    cat "$scratch/merge.log" >&2
    exit 1
  }
  # A kept input keeps its name (merged inputs are named by their SHA-1).
  for f in fuzz/corpus/*; do
    hash=$(sha1sum "$f" | cut -d' ' -f1)
    if [ -f "$scratch/merged/$hash" ]; then mv "$scratch/merged/$hash" "$scratch/merged/$(basename "$f")"; fi
  done
  rm -f fuzz/corpus/*
  cp "$scratch/merged/"* fuzz/corpus/
  echo "fuzz/corpus now holds $(ls fuzz/corpus | wc -l) inputs"
fi
