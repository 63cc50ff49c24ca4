#!/usr/bin/env bash
# Builds the program and runs it in console mode with a -P project on the bundled samples,
# then shows what the run left behind.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
rm -rf out/demo
mkdir -p out/demo
project="-P:Source=$PWD/samples/*.xls?,Target=$PWD/out/demo,PureConsole=1,LogFile=$PWD/out/demo/tabulix.log"

echo "Project given with -P (one setting per line):"
echo "${project#-P:}" | tr ',;' '\n\n' | sed 's/^/  /'
status=0
build/tabulix "$project" || status=$?
echo "build/tabulix ended with exit code $status."
echo "Beside the program: build/tabulix.log (recent projects) and build/tabulix.ext (usage counters):"
ls -l build/tabulix.log build/tabulix.ext || true
if [[ -f out/demo/tabulix.log ]]; then
  echo "Result lines in out/demo/tabulix.log ($(wc -l <out/demo/tabulix.log) items):"
  sed 's/^/  /' out/demo/tabulix.log
fi
echo "Converted into out/demo/:"
ls -l out/demo
# The texts as a reader meets them: tabs shown as "→", the form feed between sheets as "␌".
for text in out/demo/*.txt; do
  [[ -f "$text" ]] || continue
  echo "--- ${text#out/demo/} (first lines)"
  head -n 12 "$text" | sed -e 's/\t/ → /g' -e 's/\f/␌/g' -e 's/^/  /'
done
exit "$status"
