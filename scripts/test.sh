#!/usr/bin/env bash
# Builds everything and runs all the tests, then builds the threaded tests (label "threads")
# with ThreadSanitizer and runs them again.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/build.sh
(cd build && ctest --output-on-failure -j "$jobs")

BUILD_DIR=build-tsan scripts/build.sh -DTABULIX_TSAN=ON -DTABULIX_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/../tests/tsan.supp" ctest --output-on-failure -L threads -j "$jobs")
