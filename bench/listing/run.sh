#!/usr/bin/env bash
# The listing benchmark: bench/listing/run.sh BUILD_DIR [options of tabulix-bench-listing]
set -euo pipefail
build=$1
shift
cmake --build "$build" -j "$(nproc)" --target tabulix-bench-listing >/dev/null
"$build/tabulix-bench-listing" "$@"
