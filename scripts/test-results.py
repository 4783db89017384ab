#!/usr/bin/env python3
"""Reads the results of a ctest run of scripts/test: ctest's JUnit file (ctest.xml),
the JUnit files of tests run again (rerun-*.xml, a later file overriding an earlier
one test by test), each with ctest's output log beside it (ctest.log, rerun-*.log:
only the log tells a timeout from another failure), and each GoogleTest program's
own report (NAME.xml).

  test-results.py hung FOLDER        tests that timed out after their program had
                                     finished every test case and written its report
                                     with no failure: they hung in their exit
  test-results.py programs FOLDER    one line per test program: NAME passed|failed
  test-results.py count FOLDER...    the line "N passed, N failed[, N skipped]";
                                     exit status 1 when anything failed
"""
import glob
import os
import re
import sys
import xml.etree.ElementTree as ET


def timeouts(log):
    """Names of the tests that ctest's output log reports as timed out."""
    if not os.path.exists(log):
        return set()
    found = re.findall(r"^\s+\d+ - (\S+) \(Timeout\)$", open(log, errors="replace").read(), re.M)
    return set(found)


def ctest_outcomes(folder):
    """Test name -> its testcase element, marked timedOut, from ctest.xml, then the
    reruns in order."""
    outcomes = {}
    files = [os.path.join(folder, "ctest.xml")] + sorted(glob.glob(os.path.join(folder, "rerun-*.xml")))
    for junit in files:
        if not os.path.exists(junit):
            continue
        timed_out = timeouts(junit[: -len(".xml")] + ".log")
        for case in ET.parse(junit).getroot().iter("testcase"):
            case.set("timedOut", "yes" if case.get("name") in timed_out else "no")
            outcomes[case.get("name")] = case
    return outcomes


def ctest_failed(case):
    return case.get("status") not in ("run", "passed") and case.find("skipped") is None


def own_report(folder, name):
    """(passed, failed, skipped) from a program's own report, or None without one."""
    report = os.path.join(folder, name + ".xml")
    if not os.path.exists(report):
        return None
    try:
        root = ET.parse(report).getroot()
    except ET.ParseError:
        return None
    passed = failed = skipped = 0
    for t in root.iter("testcase"):
        if t.find("failure") is not None:
            failed += 1
        elif t.get("result") == "skipped" or t.find("skipped") is not None:
            skipped += 1
        else:
            passed += 1
    return passed, failed, skipped


def hung_at_exit(folder, name, case):
    report = own_report(folder, name)
    return case.get("timedOut") == "yes" and report is not None and report[1] == 0


def program_outcome(folder, name, case):
    """(passed, failed, skipped) of one program: its own cases, and one failure more
    when ctest saw it fail (crash, hang, non-zero exit) with no failed case."""
    report = own_report(folder, name)
    if report is None:
        return (0, 1, 0) if ctest_failed(case) else (1, 0, 0)
    passed, failed, skipped = report
    if ctest_failed(case) and failed == 0:
        failed = 1
    return passed, failed, skipped


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    command, folders = sys.argv[1], sys.argv[2:]
    if command == "hung":
        for name, case in ctest_outcomes(folders[0]).items():
            if hung_at_exit(folders[0], name, case):
                print(name)
        return 0
    if command == "programs":
        for name, case in sorted(ctest_outcomes(folders[0]).items()):
            print(name, "failed" if program_outcome(folders[0], name, case)[1] else "passed")
        return 0
    if command == "count":
        passed = failed = skipped = 0
        for folder in folders:
            outcomes = ctest_outcomes(folder)
            if not outcomes:
                failed += 1
            for name, case in outcomes.items():
                p, f, s = program_outcome(folder, name, case)
                passed, failed, skipped = passed + p, failed + f, skipped + s
        print(f"{passed} passed, {failed} failed" + (f", {skipped} skipped" if skipped else ""))
        return 1 if failed else 0
    print(__doc__, file=sys.stderr)
    return 2


sys.exit(main())
