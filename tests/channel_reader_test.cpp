#include "channel_reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace tervalin {
namespace {

// ---------------------------------------------------------------- scan_number

struct ScanCase {
    const char* text;
    std::size_t length;  // 0: no number
    double value;
};

TEST(ScanNumber, Grammar) {
    const double inf = std::numeric_limits<double>::infinity();
    const ScanCase cases[] = {
        // text,        length, value
        {"0.001", 5, 0.001},
        {"-12.5", 5, -12.5},
        {"+7", 2, 7},
        {".5", 2, 0.5},
        {"-.5", 3, -0.5},
        {"5.", 2, 5.0},
        {"1.5E+02", 7, 150},
        {"2e-3", 4, 0.002},
        {"1e", 1, 1},  // an exponent needs a digit
        {"1e+", 1, 1},
        {"1E-x", 1, 1},
        {"1.5-2", 3, 1.5},
        {"0x10", 1, 0},
        {"007", 3, 7},
        {"1e400", 5, inf},
        {"-1e400", 6, -inf},
        {"1e-400", 6, 0},
        {"4.9e-324", 8, 4.9e-324},
        {"1e99999999999999999999", 22, inf},
        {"1e-99999999999999999999", 23, 0},
        {"+", 0, 0},
        {"-", 0, 0},
        {".", 0, 0},
        {"+.", 0, 0},
        {"-e5", 0, 0},
        {"e5", 0, 0},
        {"inf", 0, 0},
        {"nan", 0, 0},
        {"", 0, 0},
        {" 1", 0, 0},  // white space is the caller's to skip
    };
    for (const ScanCase& c : cases) {
        const std::string text = c.text;
        const ScanResult r = scan_number(text.data(), text.data() + text.size());
        if (c.length == 0) {
            EXPECT_EQ(r.ec, std::errc::invalid_argument) << c.text;
            EXPECT_EQ(r.ptr, text.data()) << c.text;
        } else {
            EXPECT_EQ(r.ec, std::errc{}) << c.text;
            EXPECT_EQ(static_cast<std::size_t>(r.ptr - text.data()), c.length) << c.text;
            EXPECT_EQ(r.value, c.value) << c.text;
        }
    }
}

TEST(ScanNumber, NegativeZeroKeepsItsSign) {
    const std::string text = "-0.000";
    const ScanResult r = scan_number(text.data(), text.data() + text.size());
    EXPECT_EQ(r.value, 0.0);
    EXPECT_TRUE(std::signbit(r.value));
}

// ---------------------------------------------------------------- streams

// Channel files held in temporary files, read through buffers of a chosen size.
class ChannelFiles {
public:
    ChannelFiles(const std::string& x, const std::string& d, const std::string& y,
                 std::size_t buffer_size = kChannelBufferSize) {
        const std::string* texts[] = {&x, &d, &y};
        for (std::size_t c = 0; c < 3; ++c) {
            paths_[c] = scratch_path();
            files_[c] = std::fopen(paths_[c].string().c_str(), "w+b");
            std::fwrite(texts[c]->data(), 1, texts[c]->size(), files_[c]);
            std::rewind(files_[c]);
            buffers_[c].resize(buffer_size);
            channels_[c].kind = static_cast<ChannelKind>(c);
            channels_[c].stream.attach(files_[c], buffers_[c]);
        }
    }
    ~ChannelFiles() {
        for (std::size_t c = 0; c < 3; ++c) {
            std::fclose(files_[c]);
            std::filesystem::remove(paths_[c]);
        }
    }
    ChannelFiles(const ChannelFiles&) = delete;
    ChannelFiles& operator=(const ChannelFiles&) = delete;

    std::vector<SampleRow> read_rows(std::size_t limit = 1'000'000) {
        std::vector<SampleRow> rows;
        SampleRow row;
        while (rows.size() < limit && read_sample_row(channels_, row)) {
            rows.push_back(row);
        }
        row_limit_reached_ = rows.size() == limit;
        return rows;
    }
    UnusedData unused() { return find_unused_data(channels_, row_limit_reached_); }

private:
    // A file in the temporary folder: std::tmpfile wants the drive's root on Windows.
    static std::filesystem::path scratch_path() {
        static int serial = 0;
        return std::filesystem::temp_directory_path() /
               ("tervalin-channel-" + std::to_string(std::random_device{}()) + "-" +
                std::to_string(++serial) + ".txt");
    }

    std::array<std::filesystem::path, 3> paths_;
    std::array<std::FILE*, 3> files_{};
    std::array<std::vector<char>, 3> buffers_;
    std::array<GaugeChannel, 3> channels_{};
    bool row_limit_reached_ = false;
};

std::string pairs(int count, double strain) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += std::to_string(i) + "\t" + std::to_string(strain + i) + "\n";
    }
    return text;
}

struct RowsCase {
    const char* what;
    std::string x, d, y;
    std::size_t rows;
    UnusedData unused;
};

TEST(ReadSampleRow, RowsAndWhatIsLeftUnused) {
    const RowsCase cases[] = {
        // what, X-axis file, 45 degree file, Y-axis file, rows, unused data
        {"all used", pairs(5, 1), pairs(5, 2), pairs(5, 3), 5, {}},
        {"10, 12 and 11 pairs", pairs(10, 1), pairs(12, 2), pairs(11, 3), 10,
         {1, UnusedReason::other_file_ended}},
        {"a pair read for a row that is not kept", pairs(12, 1), pairs(10, 2), pairs(12, 3), 10,
         {0, UnusedReason::other_file_ended}},
        {"text header", "time strain\n" + pairs(3, 1), pairs(3, 2), pairs(3, 3), 0,
         {0, UnusedReason::not_a_pair}},
        {"comma separated", pairs(2, 1), "0,1\n1,2\n", pairs(2, 3), 0,
         {1, UnusedReason::not_a_pair}},
        {"time without strain at the end", pairs(3, 1) + "3\n", pairs(4, 2), pairs(4, 3), 3,
         {0, UnusedReason::not_a_pair}},
        {"trailing blank lines", pairs(2, 1) + "\n\n  \r\n", pairs(2, 2), pairs(2, 3), 2, {}},
        {"empty files", "", "", "", 0, {}},
        {"junk after the data", pairs(2, 1), pairs(2, 2), pairs(2, 3) + "end\n", 2,
         {2, UnusedReason::other_file_ended}},
        {"NUL bytes", std::string("0 1\n\0\0\0", 7), pairs(3, 2), pairs(3, 3), 1,
         {0, UnusedReason::not_a_pair}},
    };
    for (const RowsCase& c : cases) {
        ChannelFiles files(c.x, c.d, c.y);
        EXPECT_EQ(files.read_rows().size(), c.rows) << c.what;
        const UnusedData unused = files.unused();
        EXPECT_EQ(unused.channel, c.unused.channel) << c.what;
        EXPECT_EQ(unused.reason, c.unused.reason) << c.what;
    }
}

TEST(ReadSampleRow, RowLimitReportsDataLeftOnlyWhenThereIsSome) {
    ChannelFiles exact(pairs(3, 1), pairs(3, 2), pairs(3, 3) + " \n");
    EXPECT_EQ(exact.read_rows(3).size(), 3u);
    EXPECT_EQ(exact.unused().reason, UnusedReason::none);

    ChannelFiles longer(pairs(3, 1), pairs(4, 2), pairs(3, 3));
    EXPECT_EQ(longer.read_rows(3).size(), 3u);
    EXPECT_EQ(longer.unused().channel, 1);
    EXPECT_EQ(longer.unused().reason, UnusedReason::row_limit);
}

TEST(ReadSampleRow, PairsAcrossLinesAndTheYAxisTime) {
    // Three numbers a line are still read as pairs; CRLF is white space; the
    // row's time is the Y-axis file's whatever the others say.
    ChannelFiles files("0 10 1\r\n11 2 12\r\n", "5 20\n6 21\n7 22\n", "0.5 30\n1.5 31\n2.5 32\n");
    const std::vector<SampleRow> rows = files.read_rows();
    ASSERT_EQ(rows.size(), 3u);
    const double expected[3][4] = {{0.5, 10, 20, 30}, {1.5, 11, 21, 31}, {2.5, 12, 22, 32}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[i].time, expected[i][0]);
        EXPECT_EQ(rows[i].x, expected[i][1]);
        EXPECT_EQ(rows[i].d, expected[i][2]);
        EXPECT_EQ(rows[i].y, expected[i][3]);
    }
    EXPECT_EQ(files.unused().reason, UnusedReason::none);
}

TEST(ReadSampleRow, TimeWithoutStrainEndsTheReadingWithoutAKeptRow) {
    // The file ends after a time, or the text after a time is not a number.
    for (const std::string tail : {"2", "2 x", "2,5"}) {
        ChannelFiles files("0 1\n1 2\n" + tail, pairs(3, 2), pairs(3, 3));
        EXPECT_EQ(files.read_rows().size(), 2u) << tail;
        EXPECT_EQ(files.unused().channel, 0) << tail;
        EXPECT_EQ(files.unused().reason, UnusedReason::not_a_pair) << tail;
    }
}

// Numbers split across buffer refills must read exactly as whole ones.
TEST(ReadSampleRow, TinyBuffersReadTheSameRows) {
    std::string x, d, y;
    std::mt19937_64 random(20261211);
    std::uniform_real_distribution<double> strain(-2000, 2000);
    for (int i = 0; i < 300; ++i) {
        char line[128];
        std::snprintf(line, sizeof line, "%.3f\t%.17g\r\n", i * 0.001, strain(random));
        x += line;
        std::snprintf(line, sizeof line, "%.6e   %.3f\n", i * 0.001, strain(random));
        d += line;
        std::snprintf(line, sizeof line, "+%d.%de+0 -.%d5E-1\n", i, i % 10, i);
        y += line;
    }
    ChannelFiles reference(x, d, y);
    const std::vector<SampleRow> expected = reference.read_rows();
    ASSERT_EQ(expected.size(), 300u);
    for (std::size_t size = kMinChannelBufferSize; size <= 40; ++size) {
        ChannelFiles small(x, d, y, size);
        const std::vector<SampleRow> rows = small.read_rows();
        ASSERT_EQ(rows.size(), expected.size()) << size;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].time, expected[i].time);
            EXPECT_EQ(rows[i].x, expected[i].x);
            EXPECT_EQ(rows[i].d, expected[i].d);
            EXPECT_EQ(rows[i].y, expected[i].y);
        }
    }
}

// Long and random numbers against the C library's strtod, both converted
// from whole text and streamed through a small buffer.
TEST(ReadSampleRow, LongNumbersMatchStrtod) {
    std::mt19937_64 random(7);
    std::uniform_int_distribution<int> digit('0', '9');
    std::uniform_int_distribution<int> length(1, 1200);
    std::uniform_int_distribution<int> exponent(-700, 400);
    for (int n = 0; n < 400; ++n) {
        std::string number = n % 2 ? "-" : "";
        const int integer_digits = length(random) % 400;
        for (int i = 0; i < integer_digits; ++i) number += static_cast<char>(digit(random));
        number += '.';
        const int fraction_digits = length(random);
        for (int i = 0; i < fraction_digits; ++i) number += static_cast<char>(digit(random));
        if (n % 3 == 0) number += "e" + std::to_string(exponent(random));
        const double expected = std::strtod(number.c_str(), nullptr);

        const ScanResult whole = scan_number(number.data(), number.data() + number.size());
        EXPECT_EQ(whole.ptr, number.data() + number.size());
        EXPECT_EQ(whole.value, expected) << number;

        ChannelFiles streamed("1 " + number + "\n", "1 1\n", "1 1\n", 16);
        const std::vector<SampleRow> rows = streamed.read_rows();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].x, expected) << number;
    }
}

// Typical recorded numbers take a quicker conversion than long ones; both
// must round exactly as strtod does.
TEST(ScanNumber, ShortNumbersMatchStrtod) {
    std::mt19937_64 random(1211);
    std::uniform_int_distribution<int> digit_count(1, 22);
    std::uniform_int_distribution<int> exponent(-40, 40);
    std::uniform_int_distribution<int> digit('0', '9');
    int mismatches = 0;
    for (int n = 0; n < 300'000; ++n) {
        std::string number = n % 2 ? "-" : "";
        const int count = digit_count(random);
        const int point = static_cast<int>(random() % static_cast<unsigned>(count + 1));
        for (int i = 0; i < count; ++i) {
            if (i == point) number += '.';
            number += static_cast<char>(digit(random));
        }
        if (n % 4 == 0) number += "e" + std::to_string(exponent(random));
        const ScanResult r = scan_number(number.data(), number.data() + number.size());
        const double expected = std::strtod(number.c_str(), nullptr);
        if (r.ptr != number.data() + number.size() || r.value != expected) {
            ADD_FAILURE() << number;
            if (++mismatches > 10) break;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(ReadSampleRow, HalfwayCaseDecidedPastEightHundredDigits) {
    // 1 + 2^-53 is exactly halfway between two doubles; a nonzero digit far
    // beyond the 800th must still round it up.
    std::string halfway = "1.00000000000000011102230246251565404236316680908203125";
    const std::string up = halfway + std::string(1000, '0') + "1";
    for (std::size_t size : {std::size_t{8}, kChannelBufferSize}) {
        ChannelFiles files("0 " + halfway + "\n0 " + up + "\n", pairs(2, 1), pairs(2, 1), size);
        const std::vector<SampleRow> rows = files.read_rows();
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].x, 1.0);  // ties go to even
        EXPECT_EQ(rows[1].x, std::nextafter(1.0, 2.0));
    }
}

}  // namespace
}  // namespace tervalin
