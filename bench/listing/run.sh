#!/usr/bin/env bash
# The listing benchmark: bench/listing/run.sh BUILD_DIR [options of tabulix-bench-listing]
set -euo pipefail
build=$1
shift
"$build/tabulix-bench-listing" "$@"
