#!/usr/bin/env bash
# The engine against its floor on the benchmark corpus: bench/sheets/run.sh BUILD_DIR [--runs N]
# The corpus (bench/corpus/, seeded, not in git) is made on first use by bench/make_corpus.py.
set -euo pipefail
build=$1
shift
cd "$(dirname "$0")/../.."
cmake --build "$build" -j 2 --target tabulix-bench-sheets tabulix-bench-floor >/dev/null
if [[ ! -d bench/corpus/small || ! -f bench/corpus/large/large.xlsx ]]; then
  echo "making the corpus (bench/make_corpus.py) ..."
  /usr/bin/python3 bench/make_corpus.py
fi
echo "-- 300 small workbooks (200 rows x 12 columns), one after the other"
"$build/tabulix-bench-sheets" "$@" bench/corpus/small
echo "-- one large workbook (300,000 rows x 15 columns)"
"$build/tabulix-bench-sheets" "$@" bench/corpus/large/large.xlsx
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
