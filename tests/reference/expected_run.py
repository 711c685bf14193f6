#!/usr/bin/env python3
"""Independent reference for the end-to-end tests.

Reads three channel files, reduces every row with the rosette formulas in
their fixed order of operations (Python floats are binary64, with no fused
operations), and prints what the program must write: the principal strain
file lines (--file) or the strain summary text (--summary). Numbers are laid
out from Python's own correctly rounded 17-digit text, cut by hand.
"""
import argparse
import math
import sys


def read_pairs(path):
    numbers = open(path, encoding="ascii").read().split()
    return [(float(numbers[i]), float(numbers[i + 1])) for i in range(0, len(numbers) - 1, 2)]


def solve(x, d, y):
    s = x + y
    p = s * s
    q = x * y
    g = (2.0 * d - x) - y
    k = (q - (g * g) * 0.25) * (-4.0)
    disc = p + k
    if disc < 0.0:
        disc = 0.0
    r = math.sqrt(disc)
    e1 = (r + s) / 2.0
    e2 = (s - r) / 2.0
    return e1, e2, e1 - e2


def rounded_digits(value, keep):
    """(negative, digit string of length keep, decimal exponent)."""
    text = "%.16e" % value
    negative = text.startswith("-")
    mantissa, exponent = text.lstrip("-").split("e")
    digits = mantissa.replace(".", "")
    exponent = int(exponent)
    kept = int(digits[:keep])
    if digits[keep] >= "5":
        kept += 1
    if len(str(kept)) > keep:
        kept //= 10
        exponent += 1
    return negative, str(kept).rjust(keep, "0"), exponent


def exponent_text(exponent):
    return ("e-" if exponent < 0 else "e+") + "%03d" % abs(exponent)


def format_e14_7(value):
    negative, digits, exponent = rounded_digits(value, 8)
    if digits == "00000000":
        exponent = 0
    return ("-" if negative else "") + digits[0] + "." + digits[1:] + exponent_text(exponent)


def format_g8_4(value):
    negative, digits, exponent = rounded_digits(value, 4)
    if digits == "0000":
        text = "0"
    elif -4 <= exponent <= 3:
        if exponent >= 0:
            text = digits[: exponent + 1] + "." + digits[exponent + 1 :]
        else:
            text = "0." + "0" * (-exponent - 1) + digits
        text = text.rstrip("0").rstrip(".") if "." in text else text
    else:
        mantissa = (digits[0] + "." + digits[1:]).rstrip("0").rstrip(".")
        text = mantissa + exponent_text(exponent)
    return (("-" if negative else "") + text).rjust(8)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=["file", "summary"])
    parser.add_argument("x")
    parser.add_argument("d")
    parser.add_argument("y")
    args = parser.parse_args()
    channels = [read_pairs(args.x), read_pairs(args.d), read_pairs(args.y)]
    rows = min(len(c) for c in channels)
    extremes = [[-1e90, 1e90] for _ in range(3)]
    peaks = [0.0, 0.0, 0.0]
    out = []
    for i in range(rows):
        strains = [c[i][1] for c in channels]
        for c in range(3):
            extremes[c][0] = max(extremes[c][0], strains[c])
            extremes[c][1] = min(extremes[c][1], strains[c])
        results = solve(*strains)
        for j in range(3):
            if abs(peaks[j]) < abs(results[j]):
                peaks[j] = results[j]
        out.append("  ".join(format_e14_7(v) for v in (channels[2][i][0],) + results) + "\n")
    if args.what == "file":
        sys.stdout.write("".join(out))
        return
    labels = ["X-axis", "45 deg", "Y-axis"]
    text = "\n\n Strain Summary \n"
    for c in range(3):
        text += "\n %s: max= %s  min= %s" % (labels[c], format_g8_4(extremes[c][0]),
                                             format_g8_4(extremes[c][1]))
    text += "\n"
    text += "\n max e1    = %s " % format_g8_4(peaks[0])
    text += "\n max e2    = %s " % format_g8_4(peaks[1])
    text += "\n max shear = %s \n" % format_g8_4(peaks[2])
    sys.stdout.write(text)


if __name__ == "__main__":
    main()
