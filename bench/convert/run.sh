#!/usr/bin/env bash
# The product's console conversion against its peers: bench/convert/run.sh BUILD_DIR [options]
# Options go to convert_bench.py: --corpus small,large,xls --tools tabulix,libreoffice,...
# --limit SECONDS --runs N --keep DIR --json FILE (see bench/README.md).
#
# Prepares what the run needs, none of it in git: the corpus of bench/make_corpus.py, the 100
# .xls workbooks LibreOffice makes from the first 100 small ones (bench/corpus/xls/), and
# SheetJS from npm (bench/convert/node_modules/). A peer that is not installed is reported as
# missing; scripts/setup.sh --bench installs the Debian ones.
set -euo pipefail
build=$1
shift
cd "$(dirname "$0")/../.."
cmake --build "$build" -j 2 --target tabulix-bench-floor >/dev/null
# The product may be mid-change in a shared tree: without it the peers still run, and the
# tables say why the product is missing (an older binary is not timed in its place).
if ! cmake --build "$build" -j 2 --target tabulix >"$build/convert-build.log" 2>&1; then
  echo "tabulix does not build (see $build/convert-build.log); the product is left out" >&2
  export TABULIX_BENCH_NO_PRODUCT="tabulix does not build (see $build/convert-build.log)"
fi

if [[ ! -d bench/corpus/small || ! -f bench/corpus/large/large.xlsx ]]; then
  echo "making the corpus (bench/make_corpus.py) ..."
  /usr/bin/python3 bench/make_corpus.py
fi

xls_count=0
if [[ -d bench/corpus/xls ]]; then xls_count=$(find bench/corpus/xls -maxdepth 1 -name "*.xls" | wc -l); fi
if ((xls_count != 100)) && command -v soffice >/dev/null; then
  echo "making the .xls corpus from the first 100 small workbooks with LibreOffice ..."
  scratch=$(mktemp -d /tmp/tabulix-xls-corpus.XXXXXX)
  mapfile -t sources < <(find bench/corpus/small -maxdepth 1 -name '*.xlsx' | sort | head -n 100)
  # A profile of its own, so an office someone else has open does not take the call.
  soffice "-env:UserInstallation=file://$scratch/profile" --headless --convert-to xls \
    --outdir "$scratch/xls" "${sources[@]}" >/dev/null 2>&1 || true
  made=0
  if [[ -d $scratch/xls ]]; then made=$(find "$scratch/xls" -maxdepth 1 -name "*.xls" | wc -l); fi
  if ((made == 100)); then
    rm -rf bench/corpus/xls
    mv "$scratch/xls" bench/corpus/xls
  else
    echo "LibreOffice made $made of 100 .xls workbooks; the .xls corpus is left out" >&2
  fi
  rm -rf "$scratch"
fi

if [[ ! -f bench/convert/node_modules/xlsx/package.json ]] && command -v npm >/dev/null; then
  echo "installing SheetJS (npm, bench/convert/node_modules) ..."
  (cd bench/convert && npm install --no-audit --no-fund --silent) || echo "npm install failed" >&2
fi

args=("$@")
if [[ ! -d bench/corpus/xls ]] && ! printf '%s\n' "${args[@]}" | grep -q -- '--corpus'; then
  args+=(--corpus small,large)
fi
exec /usr/bin/python3 bench/convert/convert_bench.py --build "$build" "${args[@]}"
