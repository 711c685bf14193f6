#include "number_format.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tervalin {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Case {
    double value;
    const char* expected;
};

// Formats into a buffer pre-filled with a marker, checks the returned length
// and that nothing (no terminator either) was written past it.
template <typename Format>
std::string format_checked(Format format, double value) {
    char buffer[kFormatBufferSize + 8];
    std::memset(buffer, '#', sizeof buffer);
    const std::size_t length = format(value, buffer);
    EXPECT_LE(length, kFormatBufferSize);
    for (std::size_t i = length; i < sizeof buffer; ++i) {
        EXPECT_EQ(buffer[i], '#') << "byte " << i << " written past the returned length";
    }
    return std::string(buffer, length);
}

std::string e14_7(double value) { return format_checked(format_e14_7, value); }
std::string g8_4(double value) { return format_checked(format_g8_4, value); }

TEST(FormatE14_7, KnownValues) {
    const Case cases[] = {
        // value, expected
        {0.001, "1.0000000e-003"},
        {423.60679774997897, "4.2360680e+002"},
        {-23.606797749978966, "-2.3606798e+001"},
        {447.21359549995793, "4.4721360e+002"},
        {0.000244140625, "2.4414063e-004"},  // 2^-12: ninth digit an exact 5
        {9.99999996, "1.0000000e+001"},      // carry into a new leading digit
        {3.00000015, "3.0000002e+000"},      // 17 digits 3.0000001500000000: rounds up
        {1.00000005, "1.0000000e+000"},      // 17 digits 1.0000000499999999: rounds down
        {99999.5, "9.9999500e+004"},
        {1.0, "1.0000000e+000"},
        {-1.0, "-1.0000000e+000"},
        {1e22, "1.0000000e+022"},
        {0.0, "0.0000000e+000"},
        {-0.0, "-0.0000000e+000"},
        {5e-324, "4.9406565e-324"},                  // 17 digits 4.9406564584124654
        {2.2250738585072009e-308, "2.2250739e-308"},  // largest subnormal
        {DBL_MIN, "2.2250739e-308"},                  // 17 digits 2.2250738585072014
        {DBL_MAX, "1.7976931e+308"},                  // 17 digits 1.7976931348623157
        {-DBL_MAX, "-1.7976931e+308"},
        {kInf, "           inf"},
        {-kInf, "          -inf"},
        {kNaN, "           nan"},
        {-kNaN, "           nan"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(e14_7(c.value), c.expected) << "value " << c.value;
    }
}

TEST(FormatG8_4, KnownValues) {
    const Case cases[] = {
        // value, expected
        {423.60679774997897, "   423.6"},
        {-23.606797749978966, "  -23.61"},
        {0.0, "       0"},
        {-0.0, "      -0"},
        {250000.0, "2.5e+005"},
        {123456.0, "1.235e+005"},
        {0.00001234, "1.234e-005"},
        {0.0001234, "0.0001234"},
        {-1e90, " -1e+090"},
        {1e90, "  1e+090"},
        {12.125, "   12.13"},     // exact half: up in magnitude
        {-12.125, "  -12.13"},
        {10.045, "   10.05"},     // just below the half, but its 17 digits are 1.0045000000000000
        {9999.5, "  1e+004"},     // carry past 9999 leaves the plain range
        {9999.4, "    9999"},
        {999.95, "    1000"},     // carry to exponent 3 stays plain
        {0.0001, "  0.0001"},
        {0.00009999, "9.999e-005"},
        {0.00099995, "   0.001"},  // carry from exponent -4 to -3
        {9.9995, "   9.999"},      // 17 digits 9.9994999999999994: rounds down
        {1.0, "       1"},
        {100.0, "     100"},
        {1.5e-7, "1.5e-007"},      // 17 digits 1.4999999999999999e-07
        {5e-324, "4.941e-324"},
        {DBL_MIN, "2.225e-308"},
        {DBL_MAX, "1.798e+308"},
        {-DBL_MAX, "-1.798e+308"},
        {kInf, "     inf"},
        {-kInf, "    -inf"},
        {kNaN, "     nan"},
        {-kNaN, "     nan"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(g8_4(c.value), c.expected) << "value " << c.value;
    }
}

TEST(FormatE14_7, WidthIs14OrFifteenWhenNegative) {
    const double values[] = {1.0, 7.5e-300, 6.02214076e23, 5e-324, DBL_MAX};
    for (const double value : values) {
        EXPECT_EQ(e14_7(value).size(), 14u) << value;
        const std::string negative = e14_7(-value);
        EXPECT_EQ(negative.size(), 15u) << -value;
        EXPECT_EQ(negative.substr(1), e14_7(value)) << "negation changes only the sign";
    }
}

// ---------------------------------------------------------------------------
// Reference: the C library's 17 digits, then rounding and layout by plain
// string handling, sharing nothing with the formatter.
// ---------------------------------------------------------------------------

struct ReferenceDigits {
    std::string digits;  // `count` significant digits
    int exponent;
    bool negative;
};

ReferenceDigits reference_round(double value, std::size_t count) {
    char text[64];
    std::snprintf(text, sizeof text, "%.16e", value);
    std::string s = text;
    ReferenceDigits result{};
    result.negative = s[0] == '-';
    if (result.negative) {
        s.erase(0, 1);
    }
    const std::size_t e_position = s.find('e');
    result.exponent = std::stoi(s.substr(e_position + 1));
    const std::string all = s.substr(0, 1) + s.substr(2, e_position - 2);  // 17 digits
    result.digits = all.substr(0, count);
    if (all[count] >= '5') {
        std::size_t i = count;
        while (i > 0 && result.digits[i - 1] == '9') {
            result.digits[i - 1] = '0';
            --i;
        }
        if (i == 0) {
            result.digits = "1" + result.digits.substr(0, count - 1);
            ++result.exponent;
        } else {
            ++result.digits[i - 1];
        }
    }
    return result;
}

std::string reference_exponent(int exponent) {
    std::string magnitude = std::to_string(std::abs(exponent));
    return std::string(exponent < 0 ? "e-" : "e+") + std::string(3 - magnitude.size(), '0') +
           magnitude;
}

std::string pad_left(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string strip_fraction_zeros(std::string text) {
    if (text.find('.') == std::string::npos) {
        return text;
    }
    while (text.back() == '0') {
        text.pop_back();
    }
    if (text.back() == '.') {
        text.pop_back();
    }
    return text;
}

std::string reference_non_finite(double value, std::size_t width) {
    if (std::isnan(value)) {
        return pad_left("nan", width);
    }
    return pad_left(value < 0 ? "-inf" : "inf", width);
}

std::string reference_e14_7(double value) {
    if (!std::isfinite(value)) {
        return reference_non_finite(value, 14);
    }
    if (value == 0) {
        return std::signbit(value) ? "-0.0000000e+000" : "0.0000000e+000";
    }
    const ReferenceDigits r = reference_round(value, 8);
    return pad_left((r.negative ? "-" : "") + r.digits.substr(0, 1) + "." + r.digits.substr(1) +
                        reference_exponent(r.exponent),
                    14);
}

std::string reference_g8_4(double value) {
    if (!std::isfinite(value)) {
        return reference_non_finite(value, 8);
    }
    if (value == 0) {
        return pad_left(std::signbit(value) ? "-0" : "0", 8);
    }
    const ReferenceDigits r = reference_round(value, 4);
    std::string body;
    if (r.exponent >= -4 && r.exponent <= 3) {
        if (r.exponent >= 0) {
            const std::size_t integer_digits = static_cast<std::size_t>(r.exponent) + 1;
            body = r.digits.substr(0, integer_digits) + "." + r.digits.substr(integer_digits);
        } else {
            body = "0." + std::string(static_cast<std::size_t>(-r.exponent - 1), '0') + r.digits;
        }
        body = strip_fraction_zeros(body);
    } else {
        body = strip_fraction_zeros(r.digits.substr(0, 1) + "." + r.digits.substr(1)) +
               reference_exponent(r.exponent);
    }
    return pad_left((r.negative ? "-" : "") + body, 8);
}

TEST(Reference, AgreesWithHandWorkedExamples) {
    // The reference must itself reproduce known answers before it judges.
    EXPECT_EQ(reference_e14_7(0.000244140625), "2.4414063e-004");
    EXPECT_EQ(reference_e14_7(9.99999996), "1.0000000e+001");
    EXPECT_EQ(reference_e14_7(-23.606797749978966), "-2.3606798e+001");
    EXPECT_EQ(reference_g8_4(9999.5), "  1e+004");
    EXPECT_EQ(reference_g8_4(0.0001234), "0.0001234");
    EXPECT_EQ(reference_g8_4(10.045), "   10.05");
    EXPECT_EQ(reference_g8_4(-1e90), " -1e+090");
}

// Values of every kind: random bit patterns over the whole exponent range,
// readings with few decimals, full-precision values in the usual magnitudes,
// and values at and beside decimal halves of both formats.
std::vector<double> differential_values() {
    std::mt19937_64 random(20240611);
    std::vector<double> values;
    values.reserve(1'300'000);

    for (int i = 0; i < 400'000;) {
        const double value = std::bit_cast<double>(random());
        if (std::isfinite(value)) {
            values.push_back(value);
            ++i;
        }
    }

    std::uniform_int_distribution<std::int64_t> reading(-10'000'000, 10'000'000);
    std::uniform_int_distribution<int> decimals(0, 7);
    for (int i = 0; i < 300'000; ++i) {
        values.push_back(static_cast<double>(reading(random)) /
                         std::pow(10.0, decimals(random)));
    }

    std::uniform_real_distribution<double> log_magnitude(-40.0, 40.0);
    std::uniform_real_distribution<double> usual_log_magnitude(-3.0, 4.0);
    for (int i = 0; i < 300'000; ++i) {
        const double magnitude =
            std::pow(10.0, i % 2 == 0 ? log_magnitude(random) : usual_log_magnitude(random));
        values.push_back(random() % 2 == 0 ? magnitude : -magnitude);
    }

    // n-digit decimals ending in 5 (n = 5 and 9: a half of each format), and
    // their neighbours one unit in the last place away.
    std::uniform_int_distribution<int> power(-30, 30);
    for (int i = 0; i < 100'000; ++i) {
        const bool short_form = i % 2 == 0;
        const std::uint64_t lead = short_form ? 1'000 + random() % 9'000
                                              : 10'000'000 + random() % 90'000'000;
        char text[48];
        std::snprintf(text, sizeof text, "%llu5e%d", static_cast<unsigned long long>(lead),
                      power(random));
        const double half = std::strtod(text, nullptr);
        values.push_back(half);
        values.push_back(std::nextafter(half, 0.0));
        values.push_back(std::nextafter(half, kInf));
    }
    return values;
}

template <typename Format, typename Reference>
void expect_matches_reference(Format format, Reference reference) {
    const std::vector<double> values = differential_values();
    std::size_t mismatches = 0;
    char buffer[kFormatBufferSize];
    for (const double value : values) {
        const std::string actual(buffer, format(value, buffer));
        const std::string expected = reference(value);
        if (actual != expected) {
            if (++mismatches <= 10) {
                ADD_FAILURE() << std::hexfloat << value << std::defaultfloat << " (" << value
                              << "): got \"" << actual << "\", expected \"" << expected << "\"";
            }
        }
    }
    std::printf("compared %zu values, %zu mismatches\n", values.size(), mismatches);
    EXPECT_EQ(mismatches, 0u);
}

TEST(FormatE14_7, MatchesReferenceOverManyDoubles) {
    expect_matches_reference(format_e14_7, reference_e14_7);
}

TEST(FormatG8_4, MatchesReferenceOverManyDoubles) {
    expect_matches_reference(format_g8_4, reference_g8_4);
}

}  // namespace
}  // namespace tervalin
