#include "number_format.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tervalin {
namespace {

// ---------------------------------------------------------------------------
// Rounding to significant digits
// ---------------------------------------------------------------------------

// A finite, nonzero value cut to a fixed count of significant digits.
struct RoundedDecimal {
    std::uint64_t significand;  // exactly `Digits` decimal digits, the first nonzero
    int exponent;               // decimal exponent of the first digit
    bool negative;
};

// Largest digit count round_significant() accepts. Above 15 the first stage's
// ties-to-even would decide the second stage (see the fast path's threshold).
constexpr int kMaxSignificantDigits = 15;

// Both stages' decisions come from these 17 digits: the first stage's output.
constexpr int kFirstStageDigits = 17;

constexpr std::array<std::uint64_t, 20> make_powers_of_ten() noexcept {
    std::array<std::uint64_t, 20> powers{};
    std::uint64_t power = 1;
    for (std::uint64_t& entry : powers) {
        entry = power;
        power *= 10;
    }
    return powers;
}

constexpr std::array<std::uint64_t, 20> kPow10 = make_powers_of_ten();

// The second stage applied to an integer: `kept` digits, rounded up in
// magnitude if asked, a carry into a new digit raising the exponent.
template <int Digits>
constexpr RoundedDecimal finish_rounding(std::uint64_t kept, bool round_up, int exponent,
                                         bool negative) noexcept {
    kept += round_up ? 1 : 0;
    if (kept == kPow10[Digits]) {
        kept /= 10;
        ++exponent;
    }
    return RoundedDecimal{kept, exponent, negative};
}

// Exact path, for every finite nonzero value: the first stage is
// std::to_chars itself.
template <int Digits>
RoundedDecimal round_significant_exact(double value) noexcept {
    // "d.dddddddddddddddde-ddd": at most 23 characters, so to_chars cannot fail.
    char text[kFormatBufferSize];
    const std::to_chars_result written = std::to_chars(
        text, text + sizeof text, std::fabs(value), std::chars_format::scientific,
        kFirstStageDigits - 1);

    // Step 1: the 17 digits as one integer; text[1] is the point.
    std::uint64_t all_digits = static_cast<std::uint64_t>(text[0] - '0');
    for (int i = 2; i <= kFirstStageDigits; ++i) {
        all_digits = all_digits * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }

    // Step 2: the exponent after "e", with its sign.
    const char* cursor = text + kFirstStageDigits + 1;
    const bool negative_exponent = cursor[1] == '-';
    int exponent = 0;
    for (cursor += 2; cursor < written.ptr; ++cursor) {
        exponent = exponent * 10 + (*cursor - '0');
    }
    if (negative_exponent) {
        exponent = -exponent;
    }

    // Step 3: cut; only the first dropped digit counts.
    constexpr std::uint64_t kDroppedScale = kPow10[kFirstStageDigits - Digits];
    const std::uint64_t kept = all_digits / kDroppedScale;
    const std::uint64_t first_dropped = (all_digits % kDroppedScale) / (kDroppedScale / 10);
    return finish_rounding<Digits>(kept, first_dropped >= 5, exponent, std::signbit(value));
}

// ---------------------------------------------------------------------------
// Fast path: integer arithmetic on the binary significand
// ---------------------------------------------------------------------------
//
// With t = |value| * 10^s scaled so its integer part has `Digits` digits,
// and D = 10^(17 - Digits), the 17-digit first stage rounds u = t * D to an
// integer and the second stage rounds up when that integer reaches
// H = floor(t) * D + D / 2. H is even (D is a multiple of 10), so whichever
// way the first stage breaks a tie, the result rounds up exactly when
//     frac(t) >= 1/2 - 1/(2 D).
// t is computed in 64.64 fixed point from a truncated 128-bit power of ten;
// within the error bound of that threshold the exact path decides instead.

#if defined(__SIZEOF_INT128__)

__extension__ typedef unsigned __int128 Uint128;

// 10^s ~= (high * 2^64 + low) * 2^binary_exponent, truncated, high's top bit set.
struct PowerOfTen {
    std::uint64_t high;
    std::uint64_t low;
    int binary_exponent;
};

// Range of s covered: exact 128-bit integers for 10^0..10^38, reciprocals
// down to 10^-38. Magnitudes of about 1e-31..1e40 take the fast path; the
// rest (far from a strain file's numbers) take the exact path.
constexpr int kMinPower = -38;
constexpr int kMaxPower = 38;

constexpr int bit_width_128(Uint128 x) noexcept {
    int width = 0;
    for (; x != 0; x >>= 1) {
        ++width;
    }
    return width;
}

consteval std::array<PowerOfTen, kMaxPower - kMinPower + 1> make_power_table() {
    std::array<PowerOfTen, kMaxPower - kMinPower + 1> table{};
    for (int s = kMinPower; s <= kMaxPower; ++s) {
        Uint128 magnitude = 1;  // 10^|s|, below 2^127
        for (int i = 0; i < (s < 0 ? -s : s); ++i) {
            magnitude *= 10;
        }
        const int width = bit_width_128(magnitude);
        Uint128 mantissa = 0;
        int binary_exponent = 0;
        if (s >= 0) {
            mantissa = magnitude << (128 - width);
            binary_exponent = width - 128;
        } else {
            // floor(2^(127 + width) / 10^-s) by long division; the quotient
            // lies in (2^127, 2^128) since 10^-s is not a power of two.
            Uint128 remainder = 1;
            for (int i = 0; i < 127 + width; ++i) {
                remainder <<= 1;
                mantissa <<= 1;
                if (remainder >= magnitude) {
                    remainder -= magnitude;
                    mantissa |= 1;
                }
            }
            binary_exponent = -(127 + width);
        }
        table[static_cast<std::size_t>(s - kMinPower)] = PowerOfTen{
            static_cast<std::uint64_t>(mantissa >> 64), static_cast<std::uint64_t>(mantissa),
            binary_exponent};
    }
    return table;
}

constexpr std::array<PowerOfTen, kMaxPower - kMinPower + 1> kPowerTable = make_power_table();

// floor(p * log10(2)) for |p| <= 1100 (checked against exact values over that range).
constexpr int floor_log10_pow2(int p) noexcept { return (p * 78913) >> 18; }

// floor(2^64 * (1/2 - 1/(2 D))), D = 10^(17 - Digits): the round-up threshold
// of a 64-bit fraction.
template <int Digits>
constexpr std::uint64_t kRoundUpThreshold = [] {
    constexpr std::uint64_t kHalf = std::uint64_t{1} << 63;
    constexpr std::uint64_t kD = kPow10[kFirstStageDigits - Digits];
    return kHalf - (kHalf + kD - 1) / kD;
}();

// Fills `result` and returns true unless the value is subnormal, outside the
// table's range, or within the error bound of a rounding decision.
// Requires a finite nonzero value.
template <int Digits>
bool round_significant_fast(double value, RoundedDecimal& result) noexcept {
    constexpr int kMantissaBits = 52;
    constexpr int kExponentBias = 1023;
    constexpr std::uint64_t kLowerBound = kPow10[Digits - 1];
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const int biased_exponent = static_cast<int>((bits >> kMantissaBits) & 0x7FF);
    if (biased_exponent == 0) {
        return false;
    }
    const std::uint64_t mantissa_mask = (std::uint64_t{1} << kMantissaBits) - 1;
    const std::uint64_t m = (bits & mantissa_mask) | (std::uint64_t{1} << kMantissaBits);
    const int k = biased_exponent - kExponentBias - kMantissaBits;  // |value| = m * 2^k

    // Step 1: |value| lies in [2^p, 2^(p+1)), so its decimal exponent is
    // floor(p log10 2) or one more. Scale for the larger: t then has Digits
    // or Digits - 1 integer digits.
    int exponent = floor_log10_pow2(biased_exponent - kExponentBias) + 1;
    const int s = Digits - 1 - exponent;
    if (s < kMinPower || s > kMaxPower) {
        return false;
    }
    const PowerOfTen& power = kPowerTable[static_cast<std::size_t>(s - kMinPower)];
    const int shift = -(power.binary_exponent + k + 128);
    if (shift < 0 || shift > 127) {
        return false;
    }

    // Step 2: t = m * 10^s * 2^k in 64.64 fixed point. Dropping the low 64
    // bits of the 192-bit product and the table's truncation each lose under
    // one unit, so the true t lies in [scaled, scaled + 2).
    const Uint128 product_high = Uint128{m} * power.high + ((Uint128{m} * power.low) >> 64);
    Uint128 scaled = product_high >> shift;

    // Step 3: a digit short means the smaller exponent. Multiplying (rather
    // than branching to a second product) keeps this free of a data-dependent
    // jump; the error bound grows to 20 units.
    const bool short_by_one = static_cast<std::uint64_t>(scaled >> 64) < kLowerBound;
    scaled *= short_by_one ? 10u : 1u;
    exponent -= short_by_one ? 1 : 0;
    constexpr std::uint64_t kErrorBound = 20;

    // Step 4: the round-up decision, unless too close to call.
    const std::uint64_t integer_part = static_cast<std::uint64_t>(scaled >> 64);
    const std::uint64_t fraction = static_cast<std::uint64_t>(scaled);
    constexpr std::uint64_t kThreshold = kRoundUpThreshold<Digits>;
    if (fraction <= kThreshold && fraction > kThreshold - kErrorBound) {
        return false;
    }
    result = finish_rounding<Digits>(integer_part, fraction > kThreshold, exponent,
                                     std::signbit(value));

    // A truncated exact power of ten can read as 99..9.99; only its
    // round-up restores the full digit count.
    return result.significand >= kLowerBound;
}

#else

template <int Digits>
bool round_significant_fast(double, RoundedDecimal&) noexcept {
    return false;
}

#endif

// `value` (finite, nonzero) rounded to `Digits` significant digits in two
// stages: correctly rounded to 17, then cut, a first dropped digit of 5 or
// more rounding up in magnitude.
template <int Digits>
RoundedDecimal round_significant(double value) noexcept {
    static_assert(Digits >= 1 && Digits <= kMaxSignificantDigits);
    RoundedDecimal result;
    if (round_significant_fast<Digits>(value, result)) {
        return result;
    }
    return round_significant_exact<Digits>(value);
}

// ---------------------------------------------------------------------------
// Layout
// ---------------------------------------------------------------------------

constexpr std::array<char, 200> make_digit_pairs() noexcept {
    std::array<char, 200> pairs{};
    for (std::size_t i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}

// "00".."99": one division by 100 per two characters.
constexpr std::array<char, 200> kDigitPairs = make_digit_pairs();

// Writes `value` as exactly `count` digits, leading zeros included; returns
// the end. Requires value < 10^count; meant for short counts (each pair
// waits on the previous division).
char* write_digits(char* out, std::uint64_t value, int count) noexcept {
    char* const end = out + count;
    char* cursor = end;
    for (; count >= 2; count -= 2) {
        cursor -= 2;
        std::memcpy(cursor, &kDigitPairs[2 * (value % 100)], 2);
        value /= 100;
    }
    if (count == 1) {
        *--cursor = static_cast<char>('0' + value);
    }
    return end;
}

// Writes `value` (< 10^8) as exactly 8 digits; returns the end. Splitting in
// halves first lets the four pair lookups proceed in parallel.
char* write_8_digits(char* out, std::uint64_t value) noexcept {
    const std::uint64_t high = value / 10'000;
    const std::uint64_t low = value % 10'000;
    std::memcpy(out, &kDigitPairs[2 * (high / 100)], 2);
    std::memcpy(out + 2, &kDigitPairs[2 * (high % 100)], 2);
    std::memcpy(out + 4, &kDigitPairs[2 * (low / 100)], 2);
    std::memcpy(out + 6, &kDigitPairs[2 * (low % 100)], 2);
    return out + 8;
}

// Writes "e+ddd" or "e-ddd" (5 bytes); binary64 never needs a fourth digit.
char* write_exponent(char* out, int exponent) noexcept {
    const bool negative = exponent < 0;
    out[0] = 'e';
    out[1] = negative ? '-' : '+';
    return write_digits(out + 2, static_cast<std::uint64_t>(negative ? -exponent : exponent), 3);
}

// Writes `text` right-aligned with leading blanks in `width`; never cuts.
std::size_t write_right_aligned(char* out, const char* text, std::size_t length,
                                std::size_t width) noexcept {
    const std::size_t padding = length < width ? width - length : 0;
    std::memset(out, ' ', padding);
    std::memcpy(out + padding, text, length);
    return padding + length;
}

// "inf", "-inf" or "nan" (a NaN's sign bit is not shown) in `width`.
std::size_t write_non_finite(double value, char* out, std::size_t width) noexcept {
    if (std::isnan(value)) {
        return write_right_aligned(out, "nan", 3, width);
    }
    return value < 0 ? write_right_aligned(out, "-inf", 4, width)
                     : write_right_aligned(out, "inf", 3, width);
}

}  // namespace

std::size_t format_e14_7(double value, char* out) noexcept {
    constexpr std::size_t kWidth = 14;
    constexpr int kDigits = 8;
    if (!std::isfinite(value)) {
        return write_non_finite(value, out, kWidth);
    }
    // The sign is stored unconditionally and kept only when negative: signs
    // of real data alternate unpredictably, a branch would often miss.
    const bool negative = std::signbit(value);
    out[0] = '-';
    char* cursor = out + (negative ? 1 : 0);
    if (value == 0.0) {
        std::memcpy(cursor, "0.0000000e+000", kWidth);
        return static_cast<std::size_t>(cursor - out) + kWidth;
    }
    const RoundedDecimal rounded = round_significant<kDigits>(value);
    // All eight digits one place right, then the first moves left of the point.
    write_8_digits(cursor + 1, rounded.significand);
    cursor[0] = cursor[1];
    cursor[1] = '.';
    cursor += 1 + kDigits;
    cursor = write_exponent(cursor, rounded.exponent);
    return static_cast<std::size_t>(cursor - out);
}

std::size_t format_g8_4(double value, char* out) noexcept {
    constexpr std::size_t kWidth = 8;
    constexpr int kDigits = 4;
    if (!std::isfinite(value)) {
        return write_non_finite(value, out, kWidth);
    }
    if (value == 0.0) {
        return std::signbit(value) ? write_right_aligned(out, "-0", 2, kWidth)
                                   : write_right_aligned(out, "0", 1, kWidth);
    }
    const RoundedDecimal rounded = round_significant<kDigits>(value);
    const int exponent = rounded.exponent;

    // Step 1: the digits left once trailing zeros go (at least the first).
    std::uint64_t shown = rounded.significand;
    int shown_count = kDigits;
    while (shown % 10 == 0) {
        shown /= 10;
        --shown_count;
    }

    // Step 2: measure the text first, so it is written right-aligned in place.
    // As in C's %g, the plain form holds while the shown digits stay at most
    // four places from the point.
    const bool plain = exponent >= -4 && exponent < kDigits;
    const int integer_count = plain && exponent >= 0 ? exponent + 1 : 1;
    const int fraction_count = plain && exponent < 0 ? -exponent - 1 + shown_count
                                                     : shown_count - integer_count;
    const int length = (rounded.negative ? 1 : 0) + integer_count +
                       (fraction_count > 0 ? 1 + fraction_count : 0) + (plain ? 0 : 5);
    const std::size_t padding = static_cast<std::size_t>(length) < kWidth
                                    ? kWidth - static_cast<std::size_t>(length)
                                    : 0;
    std::memset(out, ' ', kWidth);  // a fixed-size store; text overwrites the tail
    char* cursor = out + padding;

    // Step 3: sign (stored always, kept only when negative), then the number.
    cursor[0] = '-';
    cursor += rounded.negative ? 1 : 0;
    if (plain && exponent < 0) {
        // "0.000ddd": the fraction is the leading zeros, then the digits.
        *cursor++ = '0';
        *cursor++ = '.';
        for (int zeros = -exponent - 1; zeros > 0; --zeros) {
            *cursor++ = '0';
        }
        cursor = write_digits(cursor, shown, shown_count);
    } else {
        const std::uint64_t integer_scale =
            kPow10[static_cast<std::size_t>(kDigits - integer_count)];
        cursor = write_digits(cursor, rounded.significand / integer_scale, integer_count);
        if (fraction_count > 0) {
            *cursor++ = '.';
            cursor = write_digits(cursor, shown % kPow10[static_cast<std::size_t>(fraction_count)],
                                  fraction_count);
        }
        if (!plain) {
            cursor = write_exponent(cursor, exponent);
        }
    }
    return static_cast<std::size_t>(cursor - out);
}

}  // namespace tervalin
