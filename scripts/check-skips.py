#!/usr/bin/env python3
"""Fails a test stage on any test that was skipped without leave.

  check-skips.py STAGE JUNIT_XML      every skip in a ctest run (ctest --output-junit): a test
                                      ctest did not run, a skipped GoogleTest case, a skipped
                                      Qt Test function
  check-skips.py STAGE --one NAME     one skipped test of a script's own (the Wine tests)

A skip is allowed only by tests/allowed-skips.txt, whose lines are
  TEST-NAME-REGEX  WHEN  REASON
with WHEN `nonroot` (allowed only when not run as root) or `always`. Allowed skips are
appended to $KORAVEX_SKIP_SUMMARY (printed at the end of the test command) with their reason;
any other skip is printed and the exit status is 1.
"""
import os
import re
import sys
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ALLOWED = os.path.join(HERE, "..", "tests", "allowed-skips.txt")
SKIP_LINE = re.compile(r"^(SKIP   : .*|\[  SKIPPED \] .*|SKIP: .*)$", re.M)


def allowed_rules():
    rules = []
    with open(ALLOWED, encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            parts = line.split(None, 2)
            if len(parts) != 3 or parts[1] not in ("nonroot", "always"):
                sys.exit(f"{ALLOWED}:{n}: expected TEST-REGEX WHEN REASON, WHEN nonroot or always")
            rules.append((re.compile(parts[0]), parts[1], parts[2]))
    return rules


def reason_for(name, rules):
    root = os.geteuid() == 0
    for pattern, when, reason in rules:
        if pattern.fullmatch(name) and (when == "always" or not root):
            return reason
    return None


def skips_in(junit):
    """(test name, what it said) for every skip in the run."""
    found = []
    for case in ET.parse(junit).getroot().iter("testcase"):
        name = case.get("name", "?")
        out = case.findtext("system-out") or ""
        said = [m.group(1) for m in SKIP_LINE.finditer(out)]
        if case.get("status") in ("notrun", "disabled") or case.find("skipped") is not None:
            found.append((name, said[0] if said else "not run"))
            continue
        for line in said:
            if not line.startswith("SKIP: "):  # a script's own line goes with its exit 77
                found.append((name, line))
    return found


def main():
    if len(sys.argv) == 4 and sys.argv[2] == "--one":
        stage, found = sys.argv[1], [(sys.argv[3], "exit 77")]
    elif len(sys.argv) == 3:
        stage, found = sys.argv[1], skips_in(sys.argv[2])
    else:
        sys.exit(__doc__)
    rules = allowed_rules()
    summary = os.environ.get("KORAVEX_SKIP_SUMMARY")
    bad = []
    for name, said in found:
        reason = reason_for(name, rules)
        if reason is None:
            bad.append(f"  {name}: {said}")
        elif summary:
            with open(summary, "a", encoding="utf-8") as f:
                f.write(f"  [{stage}] {name}: {reason}\n")
    if bad:
        print(f"== {stage}: skipped without leave (tests/allowed-skips.txt) ==")
        print("\n".join(bad))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
