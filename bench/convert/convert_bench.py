#!/usr/bin/python3
"""The product's console conversion against its peers, on the same workbooks in the same run.

Usage: bench/convert/convert_bench.py --build DIR [--corpus small,large,xls]
           [--tools tabulix,libreoffice,xlsx2csv,ssconvert,in2csv,sheetjs] [--limit SECONDS]
           [--runs N] [--repeat-below SECONDS] [--keep DIR] [--json FILE]

For every corpus it times each tool over the whole folder (wall time and peak resident memory),
checks that the tool really wrote one output per workbook and that a sampled output holds every
row, and prints a table with each tool's time over the product's best and the targets as
"met" / "not met" lines. bench/convert/run.sh prepares the corpora and the peers, then runs it.
"""

import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CORPUS = os.path.join(ROOT, "bench", "corpus")

# LibreOffice silently drops the files past about 250 arguments of one call.
LIBREOFFICE_CALL_FILES = 200
# Tab between fields, double quote around text that needs it, UTF-8, from the first line.
LIBREOFFICE_FILTER = "txt:Text - txt - csv (StarCalc):9,34,76,1"

ALL_TOOLS = ["tabulix", "libreoffice", "xlsx2csv", "ssconvert", "in2csv", "sheetjs"]
ALL_CORPORA = ["small", "large", "xls"]


# --------------------------------------------------------------------------------------------
# Measuring


class Step:
    """One process of a measured run: its arguments and where its standard output goes."""

    def __init__(self, argv, stdout=None, env=None):
        self.argv = argv
        self.stdout = stdout
        self.env = env


def _children_map():
    """Parent pid -> child pids, from /proc (this kernel has no /proc/PID/task/TID/children)."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as stat:
                fields = stat.read().rsplit(b")", 1)[1].split()
        except OSError:
            continue
        children.setdefault(int(fields[1]), []).append(int(entry))
    return children


def _tree_rss_kb(pid):
    """Resident memory of a process and all its descendants, summed, in KB."""
    page_kb = os.sysconf("SC_PAGE_SIZE") // 1024
    children = _children_map()
    total, todo = 0, [pid]
    while todo:
        current = todo.pop()
        todo.extend(children.get(current, []))
        try:
            with open(f"/proc/{current}/statm", "rb") as statm:
                total += int(statm.read().split()[1]) * page_kb
        except OSError:
            pass
    return total


GNU_TIME = "/usr/bin/time"


class Measure:
    """Wall time and peak memory of a sequence of processes, with one time limit for all.

    The peak is the largest %M that GNU time reports for any step (the step's own peak or its
    largest waited-for descendant's). It starts each step because a child of this script would
    carry the script's own peak: Linux keeps the high-water mark of the memory a process had
    before its exec (and a vfork child's is the parent's). A tool that keeps several processes
    alive at once (LibreOffice's launcher and its office process) is measured with `tree`: the
    resident memory of the whole process tree is also sampled every 50 ms and summed."""

    def __init__(self, steps, limit, tree=False, stderr_path=os.devnull):
        self.steps = steps
        self.limit = limit
        self.tree = tree
        self.stderr_path = stderr_path
        self.wall = None
        self.peak_kb = 0
        self.cpu = 0.0  # user and system seconds of every step and what it waited for
        self.timed_out = False
        self.failed_steps = 0
        self.first_failure = None

    def run(self):
        start = time.monotonic()
        deadline = start + self.limit if self.limit else None
        with open(self.stderr_path, "ab") as err:
            for step in self.steps:
                if deadline is not None and time.monotonic() >= deadline:
                    self.timed_out = True
                    break
                status = self._run_step(step, deadline, err)
                if self.timed_out:
                    break
                if status != 0:
                    self.failed_steps += 1
                    if self.first_failure is None:
                        self.first_failure = f"{os.path.basename(step.argv[0])} exited with {status}"
        self.wall = time.monotonic() - start
        return self

    def _run_step(self, step, deadline, err):
        out = open(step.stdout, "wb") if step.stdout else subprocess.DEVNULL
        argv = step.argv
        peak_file = None
        if os.access(GNU_TIME, os.X_OK):
            peak_file = self.stderr_path + ".peak"
            argv = [GNU_TIME, "-f", "%M", "-o", peak_file] + argv
        try:
            proc = subprocess.Popen(argv, stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                    env=step.env, start_new_session=True)
        finally:
            if step.stdout:
                out.close()
        stop = threading.Event()
        timer = None
        if deadline is not None:
            def kill():
                self.timed_out = True
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            timer = threading.Timer(max(0.0, deadline - time.monotonic()), kill)
            timer.start()
        sampler = None
        if self.tree:
            def sample():
                while not stop.wait(0.05):
                    self.peak_kb = max(self.peak_kb, _tree_rss_kb(proc.pid))
            sampler = threading.Thread(target=sample, daemon=True)
            sampler.start()
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        stop.set()
        if timer:
            timer.cancel()
        if sampler:
            sampler.join()
        if self.timed_out:
            # Anything the step left behind in its session goes too.
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.peak_kb = max(self.peak_kb, read_peak(peak_file) if peak_file else usage.ru_maxrss)
        self.cpu += usage.ru_utime + usage.ru_stime
        return proc.returncode


def read_peak(path):
    """GNU time's %M from its output file (its last line; 0 when the step was killed)."""
    try:
        with open(path) as f:
            lines = f.read().split()
        return int(lines[-1]) if lines and lines[-1].isdigit() else 0
    except OSError:
        return 0


# --------------------------------------------------------------------------------------------
# Corpora


class Corpus:
    def __init__(self, key, title, folder, ext):
        self.key = key
        self.title = title
        self.folder = folder
        self.ext = ext
        self.files = sorted(f for f in os.listdir(folder) if f.lower().endswith(ext))
        self.paths = [os.path.join(folder, f) for f in self.files]
        self.bytes = sum(os.path.getsize(p) for p in self.paths)
        self.rows = None  # rows of the first workbook's first sheet, for the sample check


def sheet_rows(xlsx_path):
    """Rows of the first worksheet, from its dimension (the corpus writer always writes one)."""
    with zipfile.ZipFile(xlsx_path) as book:
        name = min((n for n in book.namelist() if re.match(r"xl/worksheets/sheet\d+\.xml$", n)),
                   key=lambda n: int(re.search(r"(\d+)\.xml$", n).group(1)))
        with book.open(name) as part:
            head = part.read(4096).decode("utf-8", "replace")
    match = re.search(r'<dimension ref="[A-Z]+\d+:[A-Z]+(\d+)"', head)
    return int(match.group(1)) if match else None


def warm(paths):
    """Reads the files once, so every tool finds them in the page cache."""
    for path in paths:
        with open(path, "rb") as f:
            while f.read(1 << 20):
                pass


# --------------------------------------------------------------------------------------------
# Tools


class Tool:
    """A converter under test. `steps` gives the processes that convert the corpus into OUT."""

    key = ""
    name = ""
    out_ext = ".txt"
    separator = "\t"
    tree = False
    is_product = False

    def missing(self):
        """Why the tool cannot run here, or None."""
        return None

    def handles(self, corpus):
        return True

    def prepare(self, work):
        """Untimed set-up once per benchmark run."""

    def steps(self, corpus, out):
        raise NotImplementedError

    def extra_check(self, corpus, out, work):
        """A tool-specific check after the run: None when fine, else what is wrong."""
        return None


def _which(program):
    return None if shutil.which(program) else f"{program} not found (scripts/setup.sh --bench)"


class Tabulix(Tool):
    is_product = True

    def __init__(self, build, threads):
        self.build = build
        self.threads = threads
        self.key = f"tabulix{threads}"
        self.name = f"tabulix, {threads} thread{'s' if threads > 1 else ''}"
        self.program = os.path.join(build, "tabulix")

    def missing(self):
        if os.environ.get("TABULIX_BENCH_NO_PRODUCT"):
            return os.environ["TABULIX_BENCH_NO_PRODUCT"]
        return None if os.access(self.program, os.X_OK) else f"{self.program} not built"

    def steps(self, corpus, out):
        self.log = out + ".log"
        # The console run: source folder with the product's own mask, one worker per thread.
        option = (f"-P:Source={corpus.folder}/*.xls?,Target={out},PureConsole=1,"
                  f"ThreadsCount={self.threads},LogFile={self.log}")
        return [Step([self.program, option])]

    def extra_check(self, corpus, out, work):
        try:
            with open(self.log, encoding="utf-8", errors="replace") as log:
                lines = [line.rstrip("\r\n") for line in log if line.strip()]
        except OSError as error:
            return f"no log file ({error.strerror})"
        done = sum(1 for line in lines if line.startswith("Success => "))
        if done != len(corpus.files):
            failure = next((line for line in lines if not line.startswith("Success => ")), "")
            return f"{done} of {len(corpus.files)} converted; first failure: {failure[:160]}"
        return None


class Floor(Tool):
    """bench/sheets' floor: inflate the sheet part and scan it with expat, nothing else."""

    key = "floor"
    name = "floor (inflate + expat scan)"

    def __init__(self, build):
        self.program = os.path.join(build, "tabulix-bench-floor")

    def missing(self):
        return None if os.access(self.program, os.X_OK) else f"{self.program} not built"

    def handles(self, corpus):
        return corpus.ext == ".xlsx"

    def steps(self, corpus, out):
        os.makedirs(out, exist_ok=True)
        return [Step([self.program, path], stdout=os.path.join(out, f"{i}.out"))
                for i, path in enumerate(corpus.paths)]


class LibreOffice(Tool):
    key = "libreoffice"
    name = "LibreOffice"
    tree = True  # its launcher waits for the office process it starts

    def missing(self):
        return _which("soffice")

    def prepare(self, work):
        # A profile of our own, so that no office another user has open takes our calls, and
        # made before the timing, as a regular user's would be.
        self.profile = "file://" + os.path.join(work, "lo-profile")
        make_profile(self.profile, work)

    def steps(self, corpus, out):
        calls = [corpus.paths[i:i + LIBREOFFICE_CALL_FILES]
                 for i in range(0, len(corpus.paths), LIBREOFFICE_CALL_FILES)]
        return [Step(["soffice", f"-env:UserInstallation={self.profile}", "--headless",
                      "--convert-to", LIBREOFFICE_FILTER, "--outdir", out] + files)
                for files in calls]


def make_profile(profile_url, work):
    """Starts LibreOffice once on a throw-away file so that its profile exists."""
    seed = os.path.join(work, "lo-seed")
    os.makedirs(seed, exist_ok=True)
    with open(os.path.join(seed, "seed.csv"), "w") as f:
        f.write("1,2\n")
    subprocess.run(["soffice", f"-env:UserInstallation={profile_url}", "--headless",
                    "--convert-to", "txt", "--outdir", seed, os.path.join(seed, "seed.csv")],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


class Xlsx2csv(Tool):
    key = "xlsx2csv"
    name = "xlsx2csv"
    out_ext = ".csv"

    def missing(self):
        return None if os.path.exists("/usr/bin/xlsx2csv") else "xlsx2csv not found " \
            "(scripts/setup.sh --bench)"

    def handles(self, corpus):
        return corpus.ext == ".xlsx"

    def steps(self, corpus, out):
        return [Step(["/usr/bin/python3", os.path.join(HERE, "xlsx2csv_folder.py"),
                      corpus.folder, out])]


class Ssconvert(Tool):
    key = "ssconvert"
    name = "ssconvert"

    def missing(self):
        return _which("ssconvert")

    def steps(self, corpus, out):
        os.makedirs(out, exist_ok=True)
        # One process per workbook (it has no folder mode); cells as shown, tab-separated.
        return [Step(["ssconvert", "-T", "Gnumeric_stf:stf_assistant",
                      "-O", "separator='\t' format=preserve", path,
                      os.path.join(out, os.path.splitext(name)[0] + ".txt")])
                for name, path in zip(corpus.files, corpus.paths)]


class In2csv(Tool):
    key = "in2csv"
    name = "in2csv"
    out_ext = ".csv"
    separator = ","  # it writes CSV only

    def missing(self):
        return _which("in2csv")

    def steps(self, corpus, out):
        os.makedirs(out, exist_ok=True)
        return [Step(["in2csv", path], stdout=os.path.join(out, os.path.splitext(name)[0] + ".csv"))
                for name, path in zip(corpus.files, corpus.paths)]


class SheetJS(Tool):
    key = "sheetjs"
    name = "SheetJS 0.18.5"

    def missing(self):
        if not shutil.which("node"):
            return "node not found (scripts/setup.sh --bench)"
        if not os.path.exists(os.path.join(HERE, "node_modules", "xlsx", "package.json")):
            return "the xlsx package is not installed (bench/convert/run.sh installs it with npm)"
        return None

    def steps(self, corpus, out):
        # The large sheet needs more than node's default heap.
        return [Step(["node", "--max-old-space-size=8192", os.path.join(HERE, "sheetjs_folder.js"),
                      corpus.folder, out])]


# --------------------------------------------------------------------------------------------
# Checking what a tool wrote


def count_lines(path):
    """Non-empty lines of a text file."""
    lines, last = 0, b"\n"
    blank = 0
    with open(path, "rb") as f:
        while chunk := f.read(1 << 20):
            lines += chunk.count(b"\n")
            blank += chunk.count(b"\n\n")
            if last == b"\n" and chunk.startswith(b"\n"):
                blank += 1
            last = chunk[-1:]
    if last != b"\n":
        lines += 1
    return lines - blank


def check_outputs(tool, corpus, out, work):
    """None when the tool wrote one sound output per workbook, else what is missing."""
    if isinstance(tool, Floor):
        return None
    found = {}
    if os.path.isdir(out):
        for name in os.listdir(out):
            stem, ext = os.path.splitext(name)
            if ext.lower() == tool.out_ext and os.path.getsize(os.path.join(out, name)) > 0:
                found[stem] = os.path.join(out, name)
    missing = [f for f in corpus.files if os.path.splitext(f)[0] not in found]
    problem = tool.extra_check(corpus, out, work)
    if problem:
        return problem
    if missing:
        return f"{len(corpus.files) - len(missing)} of {len(corpus.files)} outputs written " \
               f"(no {tool.out_ext} for {missing[0]})"
    sample = found[os.path.splitext(corpus.files[0])[0]]
    with open(sample, "rb") as f:
        first = f.readline().decode("utf-8", "replace")
    if "Column 1" not in first or tool.separator not in first:
        return f"sample {os.path.basename(sample)} does not start with the header row: {first[:80]!r}"
    if corpus.rows:
        lines = count_lines(sample)
        if lines != corpus.rows:
            return f"sample {os.path.basename(sample)} holds {lines} lines, not {corpus.rows}"
    return None


# --------------------------------------------------------------------------------------------
# Running and reporting


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def mb(kb):
    return f"{kb / 1024:.1f} MB"


def run_tool(tool, corpus, work, limit, runs, repeat_below):
    """Best wall time of up to `runs` runs (largest peak memory of them), or why there is none.
    A tool whose run takes `repeat_below` seconds or more runs once: a moment of load on a
    shared machine weighs little on a long run, and the whole benchmark stays short."""
    result = {"tool": tool.name, "key": tool.key}
    reason = tool.missing()
    if reason:
        result["missing"] = reason
        return result
    best = None
    for attempt in range(runs):
        out = os.path.join(work, corpus.key, f"{tool.key}-{attempt}")
        shutil.rmtree(out, ignore_errors=True)
        stderr_path = out + ".stderr"
        os.makedirs(os.path.dirname(out), exist_ok=True)
        m = Measure(tool.steps(corpus, out), limit, tool.tree, stderr_path).run()
        result["peak_kb"] = max(result.get("peak_kb", 0), m.peak_kb)
        if m.timed_out:
            result["timed_out"] = True
            result["wall"] = m.wall
            return result
        problem = check_outputs(tool, corpus, out, work)
        if problem is None and m.failed_steps and not tool.is_product:
            problem = f"{m.failed_steps} step(s) failed ({m.first_failure})"
        if problem:
            result["failed"] = problem + first_error_line(stderr_path)
            result["wall"] = m.wall
            return result
        if best is None or m.wall < best:
            best = m.wall
            result["cpu"] = m.cpu
        result["wall"] = best
        result["runs"] = attempt + 1
        if attempt + 1 < runs:
            shutil.rmtree(out, ignore_errors=True)
        if m.wall >= repeat_below:
            break
    return result


def first_error_line(path):
    """The first line the tool wrote to standard error, to say why it failed."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.strip():
                    return f"; it said: {line.strip()[:160]}"
    except OSError:
        pass
    return ""


def fmt_ratio(value):
    return f"{value:.1f}" if value >= 10 else f"{value:.2f}"


def report(corpus, results, limit):
    product = [r for r in results if r["key"].startswith("tabulix") and "wall" in r
               and "failed" not in r and "timed_out" not in r]
    best = min((r["wall"] for r in product), default=None)
    rows = []
    for r in results:
        if "missing" in r:
            rows.append((r["tool"], "missing", "", "", "", "", r["missing"]))
            continue
        if r.get("timed_out"):
            wall = f"> {limit:.0f} s"
            cpu = ""
            ratio = f"> {fmt_ratio(limit / best)}" if best else ""
        else:
            wall = f"{r['wall']:.2f} s"
            cpu = f"{r['cpu']:.2f} s" if "cpu" in r else ""
            ratio = fmt_ratio(r["wall"] / best) if best else ""
        note = ""
        if "failed" in r:
            note = f"FAILED: {r['failed']}"
            ratio = ""
        elif r.get("timed_out"):
            note = "stopped at the time limit"
        rows.append((r["tool"], wall, cpu, str(r.get("runs", 1)), mb(r.get("peak_kb", 0)),
                     ratio, note))
    header = ("tool", "wall (best)", "cpu", "runs", "peak memory", "time / product's best", "")
    widths = [max(len(row[i]) for row in rows + [header]) for i in range(6)]

    def line(row):
        cells = [row[0].ljust(widths[0])] + [row[i].rjust(widths[i]) for i in range(1, 6)]
        return "  ".join(cells + [row[6]])

    print(line(header).rstrip())
    for row in rows:
        print(line(row).rstrip())
    return best


def peer_results(results):
    return [r for r in results if not r["key"].startswith("tabulix") and r["key"] != "floor"]


def check(label, met):
    print(f"  {'met' if met else 'not met'}: {label}")


def targets(corpus, results, best, limit):
    print("targets:")
    if best is None:
        print("  not met: every target (the product converted nothing that could be timed)")
        return
    peers = peer_results(results)
    done = [r for r in peers if "wall" in r and "failed" not in r and not r.get("timed_out")]
    if corpus.key in ("small", "xls"):
        if not done:
            print("  (no peer finished: no comparison)")
            return
        fastest = min(done, key=lambda r: r["wall"])
        ratio = fastest["wall"] / best
        check(f"at least 10x faster than the fastest peer ({fastest['tool']}, "
              f"{fastest['wall']:.2f} s): {fmt_ratio(ratio)}x", ratio >= 10)
        return
    x2c = next((r for r in done if r["key"] == "xlsx2csv"), None)
    if x2c:
        ratio = x2c["wall"] / best
        check(f"at least 10x faster than xlsx2csv ({x2c['wall']:.2f} s): {fmt_ratio(ratio)}x",
              ratio >= 10)
    else:
        print("  (xlsx2csv did not run: no comparison)")
    floor = next((r for r in results if r["key"] == "floor" and "wall" in r
                  and "failed" not in r), None)
    if floor:
        ratio = best / floor["wall"]
        check(f"within 2x of the floor ({floor['wall']:.2f} s): {ratio:.2f}x the floor's time",
              ratio <= 2)
    else:
        print("  (the floor did not run: no comparison)")
    peak = max(r.get("peak_kb", 0) for r in results if r["key"].startswith("tabulix"))
    check(f"peak memory under 64 MB: {mb(peak)}", peak < 64 * 1024)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", required=True, help="build folder with tabulix and the floor")
    ap.add_argument("--corpus", default=",".join(ALL_CORPORA),
                    help="corpora to run, comma-separated: small, large, xls (default: all)")
    ap.add_argument("--tools", default=",".join(ALL_TOOLS),
                    help="tools to run, comma-separated (default: all): " + ", ".join(ALL_TOOLS))
    ap.add_argument("--limit", type=float, default=300,
                    help="seconds a tool may take on one corpus (default 300)")
    ap.add_argument("--runs", type=int, default=3,
                    help="runs of each tool, the best counts (default 3)")
    ap.add_argument("--repeat-below", type=float, default=10,
                    help="a tool whose run takes this many seconds or more runs once "
                         "(default 10)")
    ap.add_argument("--keep", help="keep the outputs in this folder (default: a removed temp)")
    ap.add_argument("--json", help="also write the figures to this file")
    args = ap.parse_args()

    corpora = [c for c in args.corpus.split(",") if c]
    tools = [t for t in args.tools.split(",") if t]
    for c in corpora:
        if c not in ALL_CORPORA:
            ap.error(f"unknown corpus {c!r} (one of {', '.join(ALL_CORPORA)})")
    for t in tools:
        if t not in ALL_TOOLS:
            ap.error(f"unknown tool {t!r} (one of {', '.join(ALL_TOOLS)})")

    build = os.path.abspath(args.build)
    by_key = {
        "tabulix": [Tabulix(build, 1), Tabulix(build, 2)],
        "libreoffice": [LibreOffice()],
        "xlsx2csv": [Xlsx2csv()],
        "ssconvert": [Ssconvert()],
        "in2csv": [In2csv()],
        "sheetjs": [SheetJS()],
    }
    lineup = [tool for key in ALL_TOOLS if key in tools for tool in by_key[key]]

    if not os.access(GNU_TIME, os.X_OK):
        print(f"note: {GNU_TIME} is missing (scripts/setup.sh --bench); each peak memory then "
              "includes this script's own")
    work = os.path.abspath(args.keep) if args.keep else tempfile.mkdtemp(
        prefix="tabulix-bench-convert-")
    os.makedirs(work, exist_ok=True)
    every = {}
    try:
        for tool in lineup:
            if tool.missing() is None:
                tool.prepare(work)
        for key in corpora:
            corpus = {
                "small": lambda: Corpus("small", "small workbooks (xlsx)",
                                        os.path.join(CORPUS, "small"), ".xlsx"),
                "large": lambda: Corpus("large", "large workbook (xlsx)",
                                        os.path.join(CORPUS, "large"), ".xlsx"),
                "xls": lambda: Corpus("xls", "small workbooks (xls, made by LibreOffice)",
                                      os.path.join(CORPUS, "xls"), ".xls"),
            }[key]()
            source = corpus.paths[0] if corpus.ext == ".xlsx" else os.path.join(
                CORPUS, "small", os.path.splitext(corpus.files[0])[0] + ".xlsx")
            corpus.rows = sheet_rows(source) if os.path.exists(source) else None
            warm(corpus.paths)
            print(f"-- {len(corpus.files)} {corpus.title}: {corpus.folder}, "
                  f"{corpus.bytes / 1e6:.1f} MB; load average {load_average()}")
            here = list(lineup)
            if key == "large":
                here.insert(2 if "tabulix" in tools else 0, Floor(build))
            results = []
            for tool in here:
                if not tool.handles(corpus):
                    continue
                results.append(run_tool(tool, corpus, work, args.limit, args.runs,
                                        args.repeat_below))
            best = report(corpus, results, args.limit)
            targets(corpus, results, best, args.limit)
            print(f"load average after: {load_average()}")
            every[key] = {"files": len(corpus.files), "bytes": corpus.bytes, "results": results}
            if not args.keep:
                shutil.rmtree(os.path.join(work, corpus.key), ignore_errors=True)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    if args.json:
        os.makedirs(os.path.dirname(os.path.abspath(args.json)), exist_ok=True)
        with open(args.json, "w") as f:
            json.dump(every, f, indent=1)


if __name__ == "__main__":
    main()
