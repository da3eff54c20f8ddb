"""Sums up the runs of scripts/test.sh from ctest's JUnit files and logs.

Usage: test_summary.py RESULTS_FOLDER [EXTRA...]

RESULTS_FOLDER holds F.xml (ctest --output-junit) and F.log for each build
folder F that ran; where failed Wine tests ran once more, F.rerun.xml,
F.rerun.log and F.rerun ("NAME FOLDER" lines: where each first run was kept).
Each EXTRA is "name:status:seconds" (passed, failed or skipped) for a check run
outside ctest. A test that failed, then passed is flaky: counted as passed (as
failed when KORVANE_TEST_STRICT=1) and listed. Prints skipped, failed, the ten
slowest, each run's "Total Test time" and their sum, then "N passed, N failed,
N skipped"; exits 0 when nothing failed and something ran.
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
        outcome, reason, skipped = "failed", "", case.find("skipped")
        if case.get("status") == "run" and case.find("failure") is None:
            outcome = "passed"
        elif skipped is not None and SKIPPED_STATUS.match(skipped.get("message") or ""):
            outcome, reason = "skipped", skip_reason(case.findtext("system-out"))
        tests.append((folder + "/" + case.get("name"), outcome, float(case.get("time") or 0),
                      reason))
    return tests


def total_time(results, folder):
    path = os.path.join(results, folder + ".log")
    found = re.findall(r"Total Test time \(real\) =\s*([0-9.]+) sec",
                       open(path, encoding="utf-8", errors="replace").read()
                       if os.path.exists(path) else "")
    return float(found[-1]) if found else None


def run_again(results, folder, tests, strict):
    """Folds the folder's second run of failed Wine tests into `tests`;
    [(name, kept folder)] of those that passed only then."""
    path = os.path.join(results, folder + ".rerun")
    lines = open(path, encoding="utf-8").readlines() if os.path.exists(path) else []
    kept = dict(line.rstrip("\n").split(" ", 1) for line in lines if line.strip())
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
        # A selection that matches nothing would otherwise pass untested.
        found = read_folder(results, folder) or [(folder + "/(no tests found)", "failed", 0.0, "")]
        flaky += run_again(results, folder, found, strict)
        tests.extend(found)
    for extra in sys.argv[2:]:
        name, outcome, seconds = extra.rsplit(":", 2)
        tests.append((name, outcome, float(seconds), ""))

    for outcome in ("skipped", "failed"):
        listed = [t for t in tests if t[1] == outcome]
        if listed:
            print(f"\n{outcome.capitalize()}:")
        for name, _, _, reason in listed:
            print(f"  {name}" + (f": {reason}" if reason else ""))

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
    print(f"\n{counts['passed']} passed, {counts['failed']} failed, {counts['skipped']} skipped")
    return 0 if counts["failed"] == 0 and counts["passed"] > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
