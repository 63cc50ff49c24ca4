#!/usr/bin/python3
"""xlsx2csv_folder.py IN_FOLDER OUT_FOLDER

xlsx2csv's folder mode, one process over a folder, each workbook to OUT_FOLDER/<name>.csv with
tabs between the fields (as `xlsx2csv -d tab`). Debian's xlsx2csv 0.7.8 cannot do that from its
command line: given a folder it sends every workbook to the one output named (or fails on
standard output), so this drives its converter class the way its folder mode does.
"""

import importlib.machinery
import importlib.util
import os
import sys


def load_xlsx2csv(path="/usr/bin/xlsx2csv"):
    loader = importlib.machinery.SourceFileLoader("xlsx2csv", path)
    found = importlib.util.spec_from_loader("xlsx2csv", loader)
    module = importlib.util.module_from_spec(found)
    loader.exec_module(module)
    return module


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.splitlines()[0])
    in_dir, out_dir = sys.argv[1:]
    xlsx2csv = load_xlsx2csv()
    os.makedirs(out_dir, exist_ok=True)
    failures = 0
    for name in sorted(os.listdir(in_dir)):
        if not name.lower().endswith((".xlsx", ".xlsm")):
            continue
        target = os.path.join(out_dir, os.path.splitext(name)[0] + ".csv")
        try:
            xlsx2csv.Xlsx2csv(os.path.join(in_dir, name), delimiter="\t").convert(target, 1)
        except Exception as error:  # noqa: BLE001 - one bad workbook must not stop the folder
            failures += 1
            print(f"{name}: {error}", file=sys.stderr)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
