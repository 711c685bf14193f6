#include "channel_reader.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tervalin {
namespace {

constexpr bool is_digit(int c) noexcept { return c >= '0' && c <= '9'; }
constexpr bool is_sign(int c) noexcept { return c == '+' || c == '-'; }
constexpr bool is_exponent_mark(int c) noexcept { return c == 'e' || c == 'E'; }
// The C isspace set in the "C" locale, without the locale lookup.
constexpr bool is_space(int c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Builds a short decimal text of the same binary64 value as a number of any
// length: at most kMaxDigits significant digits are kept, and a nonzero digit
// dropped beyond them leaves a sticky 1. 767 significant digits decide any
// binary64 rounding, so the result rounds exactly as the full text would.
class DecimalAccumulator {
public:
    void set_negative() noexcept { negative_ = true; }

    void mantissa_digit(char c, bool fractional) noexcept {
        if (count_ == 0 && c == '0') {
            scale_ -= fractional ? 1 : 0;  // leading zeros only move the point
        } else if (count_ < kMaxDigits) {
            digits_[count_++] = c;
            scale_ -= fractional ? 1 : 0;
        } else {
            sticky_ = sticky_ || c != '0';
            scale_ += fractional ? 0 : 1;
        }
    }

    void exponent_digit(char c) noexcept {
        // Saturates far beyond any exponent that can still matter.
        exponent_ = std::min<std::int64_t>(exponent_ * 10 + (c - '0'), kExponentCap);
    }
    void set_exponent_negative() noexcept { exponent_negative_ = true; }

    [[nodiscard]] double finish() noexcept {
        const double zero = negative_ ? -0.0 : 0.0;
        if (count_ == 0) {
            return zero;
        }
        std::size_t length = count_;
        std::int64_t exponent = scale_ + (exponent_negative_ ? -exponent_ : exponent_);
        if (sticky_) {
            digits_[length++] = '1';
            exponent -= 1;
        }
        // Past +-kExponentClamp the value is infinite or zero whatever its digits.
        exponent = std::clamp<std::int64_t>(exponent, -kExponentClamp, kExponentClamp);
        digits_[length++] = 'e';
        const auto written = std::to_chars(digits_.data() + length, digits_.data() + digits_.size(),
                                           exponent);
        double value = 0.0;
        const auto parsed = std::from_chars(digits_.data(), written.ptr, value,
                                            std::chars_format::scientific);
        if (parsed.ec == std::errc::result_out_of_range) {
            // from_chars leaves the value alone when it overflows or underflows.
            const bool huge = exponent + static_cast<std::int64_t>(count_) > 0;
            value = huge ? std::numeric_limits<double>::infinity() : 0.0;
        }
        return negative_ ? -value : value;
    }

private:
    static constexpr std::size_t kMaxDigits = 800;
    static constexpr std::int64_t kExponentCap = 1'000'000'000'000;
    static constexpr std::int64_t kExponentClamp = 100'000;

    std::array<char, kMaxDigits + 32> digits_{};
    std::size_t count_ = 0;
    std::int64_t scale_ = 0;  // value = digits * 10^(scale_ + exponent)
    std::int64_t exponent_ = 0;
    bool exponent_negative_ = false;
    bool negative_ = false;
    bool sticky_ = false;
};

// Reads characters one at a time from memory for the accumulator; -1 past the end.
struct TextCursor {
    const char* p;
    const char* last;

    [[nodiscard]] int peek(std::size_t offset) const noexcept {
        if (static_cast<std::size_t>(last - p) <= offset) {
            return -1;
        }
        return static_cast<unsigned char>(p[offset]);
    }
    void advance(std::size_t count) noexcept { p += count; }
};

// Walks one number of the grammar through `source` (peek/advance), feeding
// the accumulator; returns false, consuming nothing, when no number starts.
template <typename Source, typename Sink>
bool accumulate_number(Source& source, Sink& acc) noexcept {
    std::size_t lead = 0;
    if (is_sign(source.peek(0))) {
        lead = 1;
    }
    const int first = source.peek(lead);
    if (!is_digit(first) && !(first == '.' && is_digit(source.peek(lead + 1)))) {
        return false;
    }
    if (lead == 1 && source.peek(0) == '-') {
        acc.set_negative();
    }
    source.advance(lead);
    for (int c = source.peek(0); is_digit(c); c = source.peek(0)) {
        acc.mantissa_digit(static_cast<char>(c), false);
        source.advance(1);
    }
    if (source.peek(0) == '.') {
        source.advance(1);
        for (int c = source.peek(0); is_digit(c); c = source.peek(0)) {
            acc.mantissa_digit(static_cast<char>(c), true);
            source.advance(1);
        }
    }
    if (is_exponent_mark(source.peek(0))) {
        const std::size_t sign_length = is_sign(source.peek(1)) ? 1 : 0;
        if (is_digit(source.peek(1 + sign_length))) {  // "1e" and "1e+" end before the e
            if (sign_length == 1 && source.peek(1) == '-') {
                acc.set_exponent_negative();
            }
            source.advance(1 + sign_length);
            for (int c = source.peek(0); is_digit(c); c = source.peek(0)) {
                acc.exponent_digit(static_cast<char>(c));
                source.advance(1);
            }
        }
    }
    return true;
}

// Length of the number at [first, last), 0 for none, and whether finding its
// end needed a look past `last` (then more text could make it longer).
struct NumberExtent {
    std::size_t length;
    bool touched_end;
};

double convert_complete_number(const char* first, const char* last) noexcept {
    const bool negative = *first == '-';
    const char* digits = is_sign(*first) ? first + 1 : first;
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(digits, last, value, std::chars_format::general);
    if (ec == std::errc{} && ptr == last) {
        return negative ? -value : value;
    }
    // Out of range (from_chars then gives no value): the accumulator decides.
    TextCursor cursor{first, last};
    DecimalAccumulator acc;
    static_cast<void>(accumulate_number(cursor, acc));
    return acc.finish();
}

// Powers of ten that binary64 holds exactly.
constexpr std::array<double, 23> kExactPowersOfTen{
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::int64_t kMaxExactPower = std::ssize(kExactPowersOfTen) - 1;
constexpr std::uint64_t kMaxExactMantissa = std::uint64_t{1} << 53;
constexpr std::uint64_t kMantissaLimit = 1'000'000'000'000'000'000;  // 10^18: room for a digit
// Where the quick scan stops counting exponent digits: far past the range in
// which it converts, and far from overflow.
constexpr std::int64_t kQuickExponentCap = 1'000'000;

// A number scanned in one pass. With `exact`, `value` is the correctly
// rounded result: an exact mantissa times or divided by an exact power of
// ten is one rounding (Clinger's fast path). Otherwise only the extent holds.
struct QuickScan {
    NumberExtent extent;
    bool exact;
    double value;
};

// One pass over the text of a typical recorded number ("-123.456",
// "1.5e-3"): the grammar walk and the digits' value together.
QuickScan quick_scan(const char* first, const char* last) noexcept {
    const char* p = first;
    const bool negative = p != last && *p == '-';
    p += (p != last && is_sign(*p)) ? 1 : 0;
    std::uint64_t mantissa = 0;
    std::int64_t scale = 0;
    bool exact = true;
    const char* digits_start = p;
    auto take_digits = [&](bool fractional) noexcept {
        for (; p != last && is_digit(*p); ++p) {
            if (mantissa < kMantissaLimit) {
                mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
                scale -= fractional ? 1 : 0;
            } else {
                exact = false;
            }
        }
    };
    take_digits(false);
    bool any_digit = p != digits_start;
    if (p != last && *p == '.') {
        const char* fraction_start = p + 1;
        const char* before = p;
        p = fraction_start;
        take_digits(true);
        any_digit = any_digit || p != fraction_start;
        if (!any_digit) {
            p = before;
        }
    }
    if (!any_digit) {  // a sign or point at the end may still gain digits
        const bool at_end = p == last || (*p == '.' && p + 1 == last);
        return {{0, at_end}, false, 0.0};
    }
    bool touched = p == last;
    if (!touched && is_exponent_mark(*p)) {
        const char* e = p + 1;
        const bool exponent_negative = e != last && *e == '-';
        e += (e != last && is_sign(*e)) ? 1 : 0;
        std::int64_t exponent = 0;
        const char* exponent_start = e;
        for (; e != last && is_digit(*e); ++e) {
            exponent = std::min<std::int64_t>(exponent * 10 + (*e - '0'), kQuickExponentCap);
        }
        touched = e == last;
        if (e != exponent_start) {
            p = e;
            scale += exponent_negative ? -exponent : exponent;
        }
    }
    const NumberExtent extent{static_cast<std::size_t>(p - first), touched};
    if (!exact || mantissa > kMaxExactMantissa || scale < -kMaxExactPower ||
        scale > kMaxExactPower) {
        return {extent, mantissa == 0 && exact, negative ? -0.0 : 0.0};
    }
    double value = static_cast<double>(mantissa);
    value = scale < 0 ? value / kExactPowersOfTen[static_cast<std::size_t>(-scale)]
                      : value * kExactPowersOfTen[static_cast<std::size_t>(scale)];
    return {extent, true, negative ? -value : value};
}

// The value of a number the quick scan found at `first`.
double value_of(const QuickScan& scan, const char* first) noexcept {
    return scan.exact ? scan.value : convert_complete_number(first, first + scan.extent.length);
}

}  // namespace

ScanResult scan_number(const char* first, const char* last) noexcept {
    const QuickScan scan = quick_scan(first, last);
    if (scan.extent.length == 0) {
        return {first, std::errc::invalid_argument, 0.0};
    }
    return {first + scan.extent.length, std::errc{}, value_of(scan, first)};
}

void ChannelStream::attach(std::FILE* file, std::span<char> buffer) noexcept {
    file_ = file;
    buffer_ = buffer.data();
    capacity_ = buffer.size();
    pos_ = 0;
    end_ = 0;
    at_eof_ = file == nullptr;
    failed_ = false;
    last_status_ = ReadStatus::pair;
}

bool ChannelStream::fill() noexcept {
    if (at_eof_) {
        return false;
    }
    if (pos_ > 0) {  // keep the unread tail: a number may continue in the next block
        std::memmove(buffer_, buffer_ + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    if (end_ == capacity_) {
        return false;
    }
    const std::size_t wanted = capacity_ - end_;
    const std::size_t got = std::fread(buffer_ + end_, 1, wanted, file_);
    end_ += got;
    if (got < wanted) {
        failed_ = std::ferror(file_) != 0;
        at_eof_ = std::feof(file_) != 0 || failed_;
    }
    return got > 0;
}

bool ChannelStream::ensure(std::size_t count) noexcept {
    while (end_ - pos_ < count) {
        if (!fill()) {
            return false;
        }
    }
    return true;
}

bool ChannelStream::skip_space() noexcept {
    for (;;) {
        while (pos_ < end_ && is_space(static_cast<unsigned char>(buffer_[pos_]))) {
            ++pos_;
        }
        if (pos_ < end_) {
            return true;
        }
        if (!fill()) {
            return false;
        }
    }
}

bool ChannelStream::read_number(double& value) noexcept {
    const char* first = buffer_ + pos_;
    const char* last = buffer_ + end_;
    const QuickScan scan = quick_scan(first, last);
    if (scan.extent.touched_end && !at_eof_) {
        return read_long_number(value);  // the number may go on in the next block
    }
    if (scan.extent.length == 0) {
        return false;
    }
    value = value_of(scan, first);
    pos_ += scan.extent.length;
    return true;
}

bool ChannelStream::read_long_number(double& value) noexcept {
    // Reads through refills; never needs more than three bytes of look-ahead
    // (e, sign, digit), so a buffer of kMinChannelBufferSize always suffices.
    struct StreamSource {
        ChannelStream& stream;
        [[nodiscard]] int peek(std::size_t offset) noexcept {
            if (!stream.ensure(offset + 1)) {
                return -1;
            }
            return static_cast<unsigned char>(stream.buffer_[stream.pos_ + offset]);
        }
        void advance(std::size_t count) noexcept { stream.pos_ += count; }
    };
    StreamSource source{*this};
    DecimalAccumulator acc;
    if (!accumulate_number(source, acc)) {
        return false;
    }
    value = acc.finish();
    return true;
}

ReadStatus ChannelStream::read_pair(double& time, double& strain) noexcept {
    double new_time = 0.0;
    double new_strain = 0.0;
    ReadStatus status = ReadStatus::pair;
    if (!skip_space()) {
        status = ReadStatus::end_of_data;
    } else if (!read_number(new_time)) {
        status = ReadStatus::not_a_number;
    } else if (!skip_space() || !read_number(new_strain)) {
        status = ReadStatus::half_pair;
    }
    if (failed_) {
        status = ReadStatus::read_error;  // what came before the error is suspect
    }
    if (status == ReadStatus::pair) {
        time = new_time;
        strain = new_strain;
    }
    last_status_ = status;
    return status;
}

bool ChannelStream::has_text_left() noexcept {
    return skip_space() || failed_;
}

bool read_sample_row(std::span<GaugeChannel, kChannelCount> channels, SampleRow& row) noexcept {
    for (GaugeChannel& channel : channels) {
        // Every channel writes the row's time, so the Y-axis file's time stays.
        if (channel.stream.read_pair(row.time, channel.strain) != ReadStatus::pair) {
            return false;
        }
    }
    row.x = channels[0].strain;
    row.d = channels[1].strain;
    row.y = channels[2].strain;
    return true;
}

UnusedData find_unused_data(std::span<GaugeChannel, kChannelCount> channels,
                            bool row_limit_reached) noexcept {
    // The first channel, from `first` on, with text past the white space ahead.
    const auto first_with_text_left = [&](int first, UnusedReason reason) noexcept {
        for (int c = first; c < kChannelCount; ++c) {
            if (channels[static_cast<std::size_t>(c)].stream.has_text_left()) {
                return UnusedData{c, reason};
            }
        }
        return UnusedData{};
    };
    if (row_limit_reached) {
        return first_with_text_left(0, UnusedReason::row_limit);
    }
    // The failed row read every channel up to the one that failed; the ones
    // before it gave a pair that is now not kept, the ones after it were not read.
    int failed = 0;
    while (failed < kChannelCount - 1 &&
           channels[static_cast<std::size_t>(failed)].stream.last_status() == ReadStatus::pair) {
        ++failed;
    }
    switch (channels[static_cast<std::size_t>(failed)].stream.last_status()) {
        case ReadStatus::not_a_number:
        case ReadStatus::half_pair:
            return {failed, UnusedReason::not_a_pair};
        case ReadStatus::read_error:
            return {failed, UnusedReason::read_error};
        case ReadStatus::pair:  // no read failed: nothing was left behind
            return {};
        case ReadStatus::end_of_data:
            break;
    }
    if (failed > 0) {
        return {0, UnusedReason::other_file_ended};
    }
    return first_with_text_left(1, UnusedReason::other_file_ended);
}

}  // namespace tervalin
