#!/usr/bin/env bash
# Configures and builds the project into build/ (or the folder given as $BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
