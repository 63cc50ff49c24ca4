#!/usr/bin/env bash
# Runs the benchmarks and prints their figures: bench/run.sh [NAME...] [-- OPTIONS]
#
# Each benchmark is a folder of bench/ with a run.sh of its own, which gets the build folder as
# its first argument, builds the programs it needs there and prints its figures. Without names
# every such folder runs, in name order. OPTIONS after "--" go to each named benchmark's run.sh
# (bench/run.sh convert -- --corpus small). The build folder is configured as the default optimised
# build (RelWithDebInfo, as the program ships):
# build-bench/ (or $BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTABULIX_BENCH=ON -DTABULIX_TESTS=OFF >/dev/null

names=()
options=()
while (($# > 0)); do
  if [[ $1 == -- ]]; then
    shift
    options=("$@")
    break
  fi
  names+=("$1")
  shift
done
if ((${#names[@]} == 0)); then
  for script in bench/*/run.sh; do
    names+=("$(basename "$(dirname "$script")")")
  done
fi
for name in "${names[@]}"; do
  if [[ ! -x bench/$name/run.sh ]]; then
    echo "no benchmark named $name (bench/$name/run.sh)" >&2
    exit 2
  fi
  echo "== $name"
  "bench/$name/run.sh" "$build" "${options[@]}"
done
