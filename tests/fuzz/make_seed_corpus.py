#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into corpus/<target>/.

Channel reader inputs start with a 7-byte header (see fuzz_channel_reader.cpp):
small buffer size, stream count, row limit, lengths of streams 0 and 1.
Number format inputs are little-endian doubles, 8 bytes each.
"""
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent
EXAMPLES = HERE.parent.parent / "examples"


def channel_input(streams, buffer_size=4, row_limit=None):
    header = bytes([buffer_size - 4, len(streams) - 1, 0 if row_limit is None else 128 + row_limit])
    lengths = [len(s) for s in streams[:-1]] + [0] * (3 - len(streams))
    header += b"".join(struct.pack("<H", n) for n in lengths[:2])
    return header + b"".join(streams)


def example(name, lines=12):
    return b"".join((EXAMPLES / name).read_bytes().splitlines(keepends=True)[:lines])


x, d, y = example("rosette_x.txt"), example("rosette_45.txt"), example("rosette_y.txt")
long_fraction = b"0." + b"1234567890" * 120 + b" 7\n"
halfway = b"1 9007199254740993." + b"0" * 900 + b"1\n"  # a strain decided past 800 digits

CHANNEL_SEEDS = {
    "example_rosette": channel_input([x, d, y]),
    "example_crlf": channel_input([s.replace(b"\n", b"\r\n") for s in (x, d, y)], 7),
    "header_line": channel_input([b"time\tstrain\r\n" + x, d, y], 5),
    "comma_separated": channel_input([b"0,12.5\n0.001,13\n", d, y]),
    "different_lengths": channel_input([example("rosette_x.txt", 10), example("rosette_45.txt", 12),
                                        example("rosette_y.txt", 11)], 9),
    "one_file_three_times": channel_input([x], 6),
    "row_limit": channel_input([x, d, y], 4, row_limit=5),
    "row_limit_exact": channel_input([b"1 2\n3 4\n", b"1 2\n3 4\n  \n", b"1 2 3 4"], 4, row_limit=2),
    "long_digit_runs": channel_input([long_fraction, halfway, b"1" * 400 + b" -" + b"9" * 400 + b"\n"], 4),
    "nul_bytes": channel_input([b"0 1\n\0\0\0\0 2 3\n", b"0 1\n2 3\n", b"\0" * 64], 8),
    "truncated_numbers": channel_input([b"1 2\n3 4.5e", b"1 2\n3 4e+", b"1 2\n3 -"], 4),
    "exponent_edges": channel_input([b"1e99999999999999999999 1e-400\n",
                                     b"4.9e-324 -2.4703282292062327e-324\n",
                                     b"1.7976931348623157e308 -1.7976931348623159e308\n"], 4),
    "not_numbers": channel_input([b"0x1p3 inf\n", b"nan 1\n", b"+.5 -.e1\n"], 4),
    "all_blanks": channel_input([b" \t\v\f\r\n1\v2\f", b"\r\r\r3 4", b"5\t\t6"], 4),
    "signs_and_points": channel_input([b".5 5. -0 +0 -0.0e-0 1E+2", b"1.5-2 3", b"007 1e 1e+ 2"], 10),
}

FORMAT_VALUES = {
    "documented_examples": [0.001, -23.606797749978966, 0.000244140625, 9.99999996,
                            423.60679774997897, 12.125, 123456.0, -1e90],
    "zeros_and_non_finite": [0.0, -0.0, float("inf"), float("-inf"), float("nan"), -float("nan")],
    "range_edges": [5e-324, -2.2250738585072014e-308, 1.7976931348623157e308, 1e-310, 1e300],
    "carries": [9.9995, 0.00099995, 9999.5, 99999995.0, 9.99999995, 0.000099995, 1e-5, 1e4],
    "strains": [41.396, -180.5, 650.1, -209.5, 858.6, 0.005, 1e6, -1e-3],
}


def main():
    for name, data in CHANNEL_SEEDS.items():
        folder = HERE / "corpus" / "fuzz_channel_reader"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(data)
    for name, values in FORMAT_VALUES.items():
        folder = HERE / "corpus" / "fuzz_number_format"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(b"".join(struct.pack("<d", v) for v in values))


if __name__ == "__main__":
    main()
