// Channel reading against a model built from whole texts in memory.
//
// The input is cut into one to three channel streams and read twice through
// read_sample_row: once with a buffer of a few bytes, so every number and
// every run of blanks crosses refills, and once with the program's buffer.
// Both readings must give the same rows, bit for bit, and the same verdict
// from find_unused_data, and both must agree with a model that tokenises
// each whole stream with scan_number and converts every token with strtod.
//
// Input layout:
//   byte 0      small buffer size: kMinChannelBufferSize + byte % 13 (4..16)
//   byte 1      stream count: 1 + byte % 3; channel c reads stream c % count,
//               so one stream read as all three channels is the same file
//               named three times
//   byte 2      row limit: none below 128, else byte - 128 rows
//   bytes 3-4   length of stream 0, little endian, cut to what is left
//   bytes 5-6   length of stream 1, likewise
//   the rest    the streams one after the other; the last takes what is left
#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "channel_reader.hpp"

namespace {

using tervalin::ChannelStream;
using tervalin::GaugeChannel;
using tervalin::kChannelBufferSize;
using tervalin::kChannelCount;
using tervalin::kMinChannelBufferSize;
using tervalin::ReadStatus;
using tervalin::SampleRow;
using tervalin::UnusedData;
using tervalin::UnusedReason;

constexpr std::size_t kHeaderSize = 7;
constexpr std::size_t kSmallBufferSpan = 13;  // sizes kMinChannelBufferSize..16
// Stands in for the program's 1,000,000 rows, which no fuzz input reaches.
constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_channel_reader: %s\n", what);
    std::abort();
}

void check(bool condition, const char* what) {
    if (!condition) {
        fail(what);
    }
}

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Length of the number the channel file grammar accepts at the start of
// `text`, written out again from its definition so that scan_number's extents
// are checked as well as its values:
//   [+-]? ( digits ( "." digits* )? | "." digits ) ( [eE] [+-]? digits )?
std::size_t grammar_length(std::string_view text) {
    std::size_t i = 0;
    const auto digits_from = [&](std::size_t at) {
        std::size_t end = at;
        while (end < text.size() && is_digit(text[end])) {
            ++end;
        }
        return end;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    const std::size_t integer_end = digits_from(i);
    if (integer_end > i) {
        i = integer_end;
        if (i < text.size() && text[i] == '.') {
            i = digits_from(i + 1);
        }
    } else if (i + 1 < text.size() && text[i] == '.' && is_digit(text[i + 1])) {
        i = digits_from(i + 1);
    } else {
        return 0;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            ++j;
        }
        const std::size_t exponent_end = digits_from(j);
        if (exponent_end > j) {
            i = exponent_end;
        }
    }
    return i;
}

// The number at the start of `text`: scan_number finds it, strtod on a
// NUL-terminated copy of exactly that text says what it is worth.
std::optional<double> model_number(std::string_view text, std::size_t& length) {
    const tervalin::ScanResult scanned = tervalin::scan_number(text.data(), text.data() + text.size());
    const std::size_t expected_length = grammar_length(text);
    if (scanned.ec != std::errc{}) {
        check(scanned.ec == std::errc::invalid_argument, "scan_number: unexpected error code");
        check(scanned.ptr == text.data(), "scan_number: moved past text that is no number");
        check(expected_length == 0, "scan_number: refused a number of the grammar");
        return std::nullopt;
    }
    length = static_cast<std::size_t>(scanned.ptr - text.data());
    check(length == expected_length, "scan_number: number extent differs from the grammar");
    const std::string token(text.substr(0, length));
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(token.c_str(), &end);
    // The grammar is a subset of what strtod reads: strtod must take it whole.
    check(end == token.c_str() + token.size(), "strtod stopped inside an accepted number");
    check(same_bits(value, scanned.value), "scan_number value differs from strtod");
    return value;
}

struct Pair {
    double time;
    double strain;
};

// One stream as the model sees it: its pairs and how the read after them ends.
struct ModelStream {
    std::vector<Pair> pairs;
    ReadStatus end = ReadStatus::end_of_data;
};

ModelStream model_stream(std::string_view text) {
    ModelStream model;
    std::size_t pos = 0;
    const auto skip_space = [&] {
        while (pos < text.size() && is_space(text[pos])) {
            ++pos;
        }
        return pos < text.size();
    };
    for (;;) {
        if (!skip_space()) {
            model.end = ReadStatus::end_of_data;
            return model;
        }
        std::size_t length = 0;
        const std::optional<double> time = model_number(text.substr(pos), length);
        if (!time) {
            model.end = ReadStatus::not_a_number;
            return model;
        }
        pos += length;
        if (!skip_space()) {
            model.end = ReadStatus::half_pair;
            return model;
        }
        const std::optional<double> strain = model_number(text.substr(pos), length);
        if (!strain) {
            model.end = ReadStatus::half_pair;
            return model;
        }
        pos += length;
        model.pairs.push_back({*time, *strain});
    }
}

struct Reading {
    std::vector<SampleRow> rows;
    UnusedData unused;
};

// What the run's row loop does, with `limit` standing in for kMaxRows.
Reading read_channels(const std::array<std::string_view, kChannelCount>& texts,
                      std::size_t buffer_size, std::size_t limit) {
    static char empty_file[1];
    std::array<GaugeChannel, kChannelCount> channels{};
    // Each buffer on the heap at its exact size, so a step past it is caught.
    std::array<std::vector<char>, kChannelCount> buffers;
    std::array<std::FILE*, kChannelCount> files{};
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        char* data = texts[c].empty() ? empty_file : const_cast<char*>(texts[c].data());
        files[c] = fmemopen(data, texts[c].size(), "rb");
        check(files[c] != nullptr, "fmemopen failed");
        std::setvbuf(files[c], nullptr, _IONBF, 0);  // as the program opens channel files
        buffers[c].resize(buffer_size);
        channels[c].stream.attach(files[c], buffers[c]);
    }
    Reading reading;
    bool limit_reached = false;
    SampleRow row;
    for (;;) {
        if (reading.rows.size() >= limit) {
            limit_reached = true;
            break;
        }
        if (!tervalin::read_sample_row(channels, row)) {
            break;
        }
        reading.rows.push_back(row);
    }
    reading.unused = tervalin::find_unused_data(channels, limit_reached);
    for (std::FILE* file : files) {
        std::fclose(file);
    }
    return reading;
}

// The rows and the verdict the model expects, from the rules in channel_reader.hpp.
Reading model_reading(const std::array<ModelStream, kChannelCount>& streams,
                      std::size_t limit) {
    std::size_t shortest = streams[0].pairs.size();
    for (const ModelStream& stream : streams) {
        shortest = std::min(shortest, stream.pairs.size());
    }
    Reading reading;
    const bool limit_reached = limit <= shortest;
    const std::size_t count = limit_reached ? limit : shortest;
    for (std::size_t r = 0; r < count; ++r) {
        reading.rows.push_back({streams[2].pairs[r].time, streams[0].pairs[r].strain,
                                streams[1].pairs[r].strain, streams[2].pairs[r].strain});
    }
    // Text left in a channel once `count` pairs of it have been taken.
    const auto text_left = [&](std::size_t c) {
        return streams[c].pairs.size() > count || streams[c].end != ReadStatus::end_of_data;
    };
    if (limit_reached) {
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            if (text_left(c)) {
                reading.unused = {static_cast<int>(c), UnusedReason::row_limit};
                return reading;
            }
        }
        return reading;
    }
    std::size_t failed = 0;
    while (streams[failed].pairs.size() > count) {
        ++failed;
    }
    if (streams[failed].end != ReadStatus::end_of_data) {
        reading.unused = {static_cast<int>(failed), UnusedReason::not_a_pair};
    } else if (failed > 0) {
        // The channels before it gave a pair for a row that is not kept.
        reading.unused = {0, UnusedReason::other_file_ended};
    } else {
        for (std::size_t c = 1; c < kChannelCount; ++c) {
            if (text_left(c)) {
                reading.unused = {static_cast<int>(c), UnusedReason::other_file_ended};
                break;
            }
        }
    }
    return reading;
}

void check_same(const Reading& a, const Reading& b, const char* what) {
    check(a.rows.size() == b.rows.size(), what);
    for (std::size_t r = 0; r < a.rows.size(); ++r) {
        check(same_bits(a.rows[r].time, b.rows[r].time) && same_bits(a.rows[r].x, b.rows[r].x) &&
                  same_bits(a.rows[r].d, b.rows[r].d) && same_bits(a.rows[r].y, b.rows[r].y),
              what);
    }
    check(a.unused.channel == b.unused.channel && a.unused.reason == b.unused.reason, what);
}

std::size_t read_length(const std::uint8_t* bytes) {
    return static_cast<std::size_t>(bytes[0]) | static_cast<std::size_t>(bytes[1]) << 8;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderSize) {
        return 0;
    }
    const std::size_t small_buffer = kMinChannelBufferSize + data[0] % kSmallBufferSpan;
    const std::size_t stream_count = 1 + std::size_t{data[1]} % kChannelCount;
    const std::size_t limit = data[2] < 128 ? kNoLimit : data[2] - 128u;

    const std::string_view body(reinterpret_cast<const char*>(data + kHeaderSize),
                                size - kHeaderSize);
    std::array<std::string_view, kChannelCount> streams;
    std::size_t offset = 0;
    for (std::size_t s = 0; s < stream_count; ++s) {
        const std::size_t left = body.size() - offset;
        const std::size_t length =
            s + 1 == stream_count ? left : std::min(left, read_length(data + 3 + 2 * s));
        streams[s] = body.substr(offset, length);
        offset += length;
    }
    std::array<std::string_view, kChannelCount> texts;
    std::array<ModelStream, kChannelCount> models;
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        texts[c] = streams[c % stream_count];
        models[c] = model_stream(texts[c]);
    }

    const Reading small = read_channels(texts, small_buffer, limit);
    const Reading large = read_channels(texts, kChannelBufferSize, limit);
    check_same(small, large, "a small buffer reads differently from the program's buffer");
    check_same(large, model_reading(models, limit), "the reading differs from the model");
    return 0;
}
