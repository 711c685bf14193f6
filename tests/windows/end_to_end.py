#!/usr/bin/env python3
"""End-to-end runs of tervalin.exe under Wine, on files in temporary folders.

The Windows counterpart of tests/end_to_end_test.cpp: the same dialogue, the
same files, checked with the bytes the Windows C library gives. Standard
output and standard error are in text mode there, so every "\\n" the program
writes reaches the pipe as "\\r\\n", and the principal strain file, written in
text mode, ends its lines with CR LF. None of the standard streams is a
terminal, so Wine gives the program no console: the key wait ends at once
with -1, which Wine reports as exit status 255.

Prints one line per check, "PASS name" or "FAIL name: why", then
"N passed, M failed"; exits non-zero when any check failed.
"""
import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

RUN_TIME_LIMIT = 60  # seconds; a run that waits at a key never ends on its own

INTRO = ("\n tervalin.exe, ver 1.0, July 9, 2005"
         "\n\n by Haskovar "
         "\n Email:  tervalin@example.org \n"
         "\n\n Each input file must have two columns: time(sec) & microstrain. \n"
         "\n The files must be synchronized. \n")
CHANNEL_QUESTIONS = ("\n\n Enter the X-axis filename:\n"
                     "\n\n Enter the 45 degree filename:\n"
                     "\n\n Enter the Y-axis filename:\n"
                     "\n\n")
OUTPUT_QUESTION = "\n\n Enter the principal strain output filename:\n"
CLOSING = "\n\n Program complete. \n Press any key to exit."
NO_ROW_SUMMARY = ("\n\n Strain Summary \n"
                  "\n X-axis: max=  -1e+090  min=   1e+090"
                  "\n 45 deg: max=  -1e+090  min=   1e+090"
                  "\n Y-axis: max=  -1e+090  min=   1e+090\n"
                  "\n max e1    =        0 "
                  "\n max e2    =        0 "
                  "\n max shear =        0 \n")
NO_CONSOLE_STATUS = 255  # the key wait's -1, as Wine hands it to Linux
FAILURE_STATUS = 1


def crlf(text):
    """Text as the Windows C library writes it in text mode."""
    return text.replace("\n", "\r\n").encode("ascii")


def opened(name):
    return " File: %s opened. \n" % name


def failed(name):
    return " Failed to open file: %s \n" % name


def pairs(count):
    return "".join("%d %d\n" % (i, 100 + i) for i in range(count))


class Run:
    def __init__(self, out, err, status):
        self.out, self.err, self.status = out, err, status


class Checks:
    def __init__(self, wine, program, examples, reference):
        self.wine, self.program = wine, program
        self.examples, self.reference = examples, reference
        self.passed = 0
        self.failed = 0

    def run(self, folder, typed):
        """Runs the program in `folder` with `typed` (str) on standard input."""
        # A session of its own: no controlling terminal, and on a timeout the
        # whole group this runner started can be ended.
        process = subprocess.Popen([self.wine, self.program], cwd=folder,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, start_new_session=True)
        try:
            out, err = process.communicate(typed.encode("ascii"), timeout=RUN_TIME_LIMIT)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            out, err = process.communicate()
            return Run(out, err + b"[timed out]", None)
        return Run(out, err, process.returncode)

    def expect(self, name, problems):
        problems = [p for p in problems if p]
        if problems:
            self.failed += 1
            print("FAIL %s: %s" % (name, "; ".join(problems)), flush=True)
        else:
            self.passed += 1
            print("PASS %s" % name, flush=True)


def same(what, actual, expected):
    if actual == expected:
        return None
    return "%s differs:\n  expected %r\n  actual   %r" % (what, expected, actual)


def write(folder, name, text, mode="w"):
    path = Path(folder) / name
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, mode + "b") as f:
        f.write(text.encode("ascii") if isinstance(text, str) else text)


def read(folder, name):
    return (Path(folder) / name).read_bytes()


def write_channels(folder, rows):
    for name in ("x.txt", "d.txt", "y.txt"):
        write(folder, name, pairs(rows))


def example_run(checks):
    with tempfile.TemporaryDirectory() as folder:
        for name in ("rosette_x.txt", "rosette_45.txt", "rosette_y.txt"):
            shutil.copy(checks.examples / name, folder)
        run = checks.run(folder, "rosette_x.txt rosette_45.txt rosette_y.txt\nstrains.txt\n")
        summary = (checks.examples / "expected_summary.txt").read_text(encoding="ascii")
        expected_file = (checks.examples / "expected_principal_strains.txt").read_bytes()
        checks.expect("example run gives the reference file with CR LF and the summary", [
            same("console", run.out,
                 crlf(INTRO + CHANNEL_QUESTIONS + opened("rosette_x.txt") +
                      opened("rosette_45.txt") + opened("rosette_y.txt") + OUTPUT_QUESTION +
                      summary + CLOSING)),
            same("standard error", run.err, b""),
            same("exit status", run.status, NO_CONSOLE_STATUS),
            same("principal strain file", read(folder, "strains.txt"),
                 expected_file.replace(b"\n", b"\r\n")),
        ])


def reference(checks, folder, what):
    """The independent reference's text for the channel files in `folder`."""
    return subprocess.run(
        [sys.executable, str(checks.reference), what, "x.txt", "d.txt", "y.txt"],
        cwd=folder, check=True, capture_output=True).stdout.decode("ascii")


def names_typed_with_crlf(checks):
    """Names piped from a Windows file end their lines with CR LF."""
    with tempfile.TemporaryDirectory() as folder:
        write_channels(folder, 3)
        run = checks.run(folder, "x.txt\r\nd.txt\r\ny.txt\r\nout.txt\r\n")
        checks.expect("names on lines ending with CR LF", [
            same("console", run.out,
                 crlf(INTRO + CHANNEL_QUESTIONS + opened("x.txt") + opened("d.txt") +
                      opened("y.txt") + OUTPUT_QUESTION + reference(checks, folder, "summary") +
                      CLOSING)),
            same("standard error", run.err, b""),
            same("exit status", run.status, NO_CONSOLE_STATUS),
            same("output", read(folder, "out.txt"), crlf(reference(checks, folder, "file"))),
        ])


def large_random_run(checks):
    """Channel files of 20000 rows in CR LF and LF, well past one 64 KiB read
    buffer, against the independent reference of tests/reference."""
    rng = random.Random(20050709)
    with tempfile.TemporaryDirectory() as folder:
        rows = 20000
        for name, line_end in (("x.txt", "\r\n"), ("d.txt", "\n"), ("y.txt", "\r\n")):
            text = "".join("%.4f\t%.3f%s" % (i * 0.005, rng.uniform(-3000.0, 3000.0), line_end)
                           for i in range(rows))
            write(folder, name, text)
        run = checks.run(folder, "x.txt d.txt y.txt out.txt\n")
        expected = crlf(reference(checks, folder, "file"))
        summary = reference(checks, folder, "summary")
        checks.expect("20000 random rows match the reference, file and summary", [
            same("exit status", run.status, NO_CONSOLE_STATUS),
            same("standard error", run.err, b""),
            None if run.out.endswith(crlf(summary + CLOSING)) else
            "summary differs: expected %r, console ends %r" % (summary, run.out[-400:]),
            None if read(folder, "out.txt") == expected else
            "principal strain file differs from the reference",
        ])


def run_with_no_row(checks):
    with tempfile.TemporaryDirectory() as folder:
        write(folder, "x.txt", "")
        write(folder, "d.txt", "\n")
        write(folder, "y.txt", "   ")
        write(folder, "out.txt", "old contents that must go\n")
        run = checks.run(folder, "x.txt d.txt y.txt out.txt\n")
        checks.expect("run with no row empties the output and shows the seeds", [
            same("console", run.out,
                 crlf(INTRO + CHANNEL_QUESTIONS + opened("x.txt") + opened("d.txt") +
                      opened("y.txt") + OUTPUT_QUESTION + NO_ROW_SUMMARY + CLOSING)),
            same("standard error", run.err, b""),
            same("exit status", run.status, NO_CONSOLE_STATUS),
            same("output", read(folder, "out.txt"), b""),
        ])


def dialogue_failures(checks):
    # The first 259 characters of the over-long name name a real channel
    # file, which a program that cut the name would open, or empty.
    cut_name = "a" * 100 + "/" + "b" * 158
    long_name = cut_name + "ccc"
    long_shown = cut_name + "..."
    all_opened = opened("x.txt") + opened("d.txt") + opened("y.txt")
    cases = [
        ("45 degree file missing", "x.txt\nmissing.txt\ny.txt\nout.txt\n",
         CHANNEL_QUESTIONS + opened("x.txt") + failed("missing.txt")),
        ("input ends at once", "", CHANNEL_QUESTIONS + failed("")),
        ("a blank splits a name", "x.txt d.txt\nnone.txt\nout.txt\n",
         CHANNEL_QUESTIONS + opened("x.txt") + opened("d.txt") + failed("none.txt")),
        ("channel is a folder", "x.txt folder y.txt out.txt\n",
         CHANNEL_QUESTIONS + opened("x.txt") + failed("folder")),
        ("over-long channel name", "x.txt " + long_name + " y.txt out.txt\n",
         CHANNEL_QUESTIONS + opened("x.txt") + failed(long_shown)),
        ("over-long output name", "x.txt d.txt y.txt " + long_name + "\n",
         CHANNEL_QUESTIONS + all_opened + OUTPUT_QUESTION + failed(long_shown)),
        ("output in a missing folder", "x.txt d.txt y.txt nowhere\\out.txt\n",
         CHANNEL_QUESTIONS + all_opened + OUTPUT_QUESTION + failed("nowhere\\out.txt")),
        ("output is a folder", "x.txt d.txt y.txt folder\n",
         CHANNEL_QUESTIONS + all_opened + OUTPUT_QUESTION + failed("folder")),
        ("no output name", "x.txt d.txt y.txt",
         CHANNEL_QUESTIONS + all_opened + OUTPUT_QUESTION + failed("")),
    ]
    for what, typed, after_intro in cases:
        with tempfile.TemporaryDirectory() as folder:
            write_channels(folder, 3)
            os.mkdir(Path(folder) / "folder")
            write(folder, cut_name, pairs(3))
            run = checks.run(folder, typed)
            checks.expect("dialogue failure: " + what, [
                same("console", run.out, crlf(INTRO + after_intro)),
                same("exit status", run.status, FAILURE_STATUS),
                same("standard error", run.err, b""),
                None if not (Path(folder) / "out.txt").exists() else "out.txt was created",
                same("cut-name file", read(folder, cut_name), pairs(3).encode("ascii")),
            ])


def output_that_is_a_channel_file(checks):
    """Refused however the name reaches it, Windows spellings included."""
    for output in ("d.txt", "./d.txt", ".\\d.txt", "D.TXT", "folder\\..\\d.txt", "d.txt.",
                   "link.txt", "hard.txt"):
        with tempfile.TemporaryDirectory() as folder:
            write_channels(folder, 3)
            os.mkdir(Path(folder) / "folder")
            os.symlink("d.txt", Path(folder) / "link.txt")
            os.link(Path(folder) / "d.txt", Path(folder) / "hard.txt")
            run = checks.run(folder, "x.txt d.txt y.txt " + output + "\n")
            checks.expect("output that is a channel file: " + output, [
                same("console", run.out,
                     crlf(INTRO + CHANNEL_QUESTIONS + opened("x.txt") + opened("d.txt") +
                          opened("y.txt") + OUTPUT_QUESTION +
                          " Output file is one of the channel files: " + output + " \n")),
                same("exit status", run.status, FAILURE_STATUS),
                same("d.txt", read(folder, "d.txt"), pairs(3).encode("ascii")),
            ])


def unused_data_on_standard_error(checks):
    cases = [
        ("every number used", pairs(4), pairs(4), pairs(4) + "\r\n\r\n", ""),
        ("files of 10, 12 and 11 pairs", pairs(10), pairs(12), pairs(11),
         "tervalin: data from row 11 of d.txt was not used: another channel file ended "
         "before it\n"),
        ("header line", "time strain\n" + pairs(3), pairs(3), pairs(3),
         "tervalin: data from row 1 of x.txt was not used: it is not a time and strain pair\n"),
        ("time without a strain", pairs(3), pairs(3), pairs(2) + "7\n",
         "tervalin: data from row 3 of y.txt was not used: it is not a time and strain pair\n"),
        # Binary reading: a Ctrl-Z is text that is not a number, not the end of the file.
        ("Ctrl-Z inside a channel file", pairs(2) + "\x1a" + pairs(2), pairs(4), pairs(4),
         "tervalin: data from row 3 of x.txt was not used: it is not a time and strain pair\n"),
    ]
    for what, x, d, y, err in cases:
        with tempfile.TemporaryDirectory() as folder:
            write(folder, "x.txt", x)
            write(folder, "d.txt", d)
            write(folder, "y.txt", y)
            run = checks.run(folder, "x.txt d.txt y.txt out.txt\n")
            checks.expect("unused data: " + what, [
                same("standard error", run.err, crlf(err)),
                same("exit status", run.status, NO_CONSOLE_STATUS),
                None if run.out.endswith(crlf(CLOSING)) else "no closing text",
            ])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--program", required=True, type=Path)
    root = Path(__file__).resolve().parents[2]
    args = parser.parse_args()
    checks = Checks(args.wine, str(args.program.resolve()), root / "examples",
                    root / "tests" / "reference" / "expected_run.py")
    for check in (example_run, names_typed_with_crlf, large_random_run, run_with_no_row,
                  dialogue_failures, output_that_is_a_channel_file,
                  unused_data_on_standard_error):
        check(checks)
    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
