"""Sums up the runs of scripts/test.sh from ctest's JUnit files and logs.

Usage: test_summary.py RESULTS_FOLDER [EXTRA...]

RESULTS_FOLDER holds, for each build folder F that ran, F.xml (ctest
--output-junit) and F.log (ctest's output); where failed Wine tests ran once
more, F.rerun.xml and F.rerun.log of that second run, and F.rerun with a line
"NAME FOLDER" for each, FOLDER being where its first run was kept. Each EXTRA
is "name:status:seconds" for a check run outside ctest (status passed, failed
or skipped).

A test that failed and then passed is flaky: it counts as passed, or as
failed when KORVANE_TEST_STRICT=1, and is listed with where its first run was
kept. Prints the skipped and flaky tests, the ten slowest tests (their two
runs summed), each ctest run's "Total Test time" line and their sum, and last
the line "N passed, N failed, N skipped". Exits 0 when nothing failed and
something ran.
"""

import os
import re
import sys
import xml.etree.ElementTree as ElementTree

# ctest marks a test "notrun" both when it skipped itself and when it could
# not be started; only these completion statuses are skips.
SKIPPED_STATUS = re.compile(r"^(SKIP_RETURN_CODE=|SKIP_REGULAR_EXPRESSION_MATCHED|Disabled)")


def skip_reason(output):
    for line in (output or "").splitlines():
        if line.startswith("SKIP"):
            return line.partition(":")[2].strip() or line
    return ""


def read_folder(results, folder):
    """[(name, outcome, seconds, reason)] of one ctest run."""
    path = os.path.join(results, folder + ".xml")
    if not os.path.exists(path):
        return []
    tests = []
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        name = folder + "/" + case.get("name")
        seconds = float(case.get("time") or 0)
        status = case.get("status")
        skipped = case.find("skipped")
        output = case.findtext("system-out")
        if status == "run" and case.find("failure") is None:
            tests.append((name, "passed", seconds, ""))
        elif skipped is not None and SKIPPED_STATUS.match(skipped.get("message") or ""):
            tests.append((name, "skipped", seconds, skip_reason(output)))
        else:
            tests.append((name, "failed", seconds, ""))
    return tests


def total_time(results, folder):
    path = os.path.join(results, folder + ".log")
    if not os.path.exists(path):
        return None
    found = None
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            match = re.search(r"Total Test time \(real\) =\s*([0-9.]+) sec", line)
            if match:
                found = float(match.group(1))
    return found


def run_again(results, folder, tests, strict):
    """Folds the folder's second run of failed Wine tests into `tests`;
    [(name, kept folder)] of those that passed only then."""
    kept = {}
    path = os.path.join(results, folder + ".rerun")
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            kept = dict(line.rstrip("\n").split(" ", 1) for line in f if line.strip())
    second = {t[0]: t for t in read_folder(results, folder + ".rerun")}
    flaky = []
    for i, (name, outcome, seconds, reason) in enumerate(tests):
        again = second.get(folder + ".rerun/" + name.partition("/")[2])
        if outcome != "failed" or again is None:
            continue
        if again[1] == "passed":
            flaky.append((name, kept.get(name.partition("/")[2], "(not kept)")))
            outcome = "failed" if strict else "passed"
        else:
            outcome = again[1]
        tests[i] = (name, outcome, seconds + again[2], again[3])
    return flaky


def main():
    results = sys.argv[1]
    strict = os.environ.get("KORVANE_TEST_STRICT") == "1"
    logs = [name[:-4] for name in sorted(os.listdir(results)) if name.endswith(".log")]
    folders = [name for name in logs if not name.endswith(".rerun")]
    tests, flaky = [], []
    for folder in folders:
        found = read_folder(results, folder)
        # A selection that matches nothing would otherwise pass untested.
        found = found or [(folder + "/(no tests found)", "failed", 0.0, "")]
        flaky += run_again(results, folder, found, strict)
        tests.extend(found)
    for extra in sys.argv[2:]:
        name, outcome, seconds = extra.rsplit(":", 2)
        tests.append((name, outcome, float(seconds), ""))

    skipped = [t for t in tests if t[1] == "skipped"]
    failed = [t for t in tests if t[1] == "failed"]
    if skipped:
        print("\nSkipped:")
        for name, _, _, reason in skipped:
            print(f"  {name}" + (f": {reason}" if reason else ""))
    if failed:
        print("\nFailed:")
        for name, *_ in failed:
            print(f"  {name}")

    print("\nSlowest tests:")
    for name, outcome, seconds, _ in sorted(tests, key=lambda t: -t[2])[:10]:
        print(f"  {seconds:8.2f} s  {name} ({outcome})")

    print("\nTotal Test time per folder:")
    summed = 0.0
    for folder in logs:
        seconds = total_time(results, folder)
        if seconds is None:
            print(f"  build/{folder}: no Total Test time line (ctest did not finish)")
            continue
        summed += seconds
        folder = folder.replace(".rerun", " (second run)")
        print(f"  build/{folder}: Total Test time (real) = {seconds:.2f} sec")
    print(f"  sum: {summed:.2f} sec")

    counts = {outcome: sum(1 for t in tests if t[1] == outcome)
              for outcome in ("passed", "failed", "skipped")}
    if flaky:
        print("\nFlaky: failed, then passed when run again (counted as "
              + ("failed, KORVANE_TEST_STRICT=1" if strict else "passed") + "):")
        for name, kept in flaky:
            print(f"  {name}: first run's output.log and work folder kept in {kept}")
    print()
    print(f"{counts['passed']} passed, {counts['failed']} failed, {counts['skipped']} skipped")
    return 0 if counts["failed"] == 0 and counts["passed"] > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
