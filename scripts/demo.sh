#!/usr/bin/env bash
# Builds the program and runs it in console mode on the bundled samples.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
mkdir -p out/demo
build/tabulix "-P:Source=$PWD/samples/*.xls?,Target=$PWD/out/demo,PureConsole=1,LogFile=$PWD/out/demo/tabulix.log"
echo "Converted into out/demo/:"; ls -l out/demo
