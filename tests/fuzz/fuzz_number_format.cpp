// The program's number formats against a second, independent rounding.
//
// Every 8 bytes of the input are one double, any bit pattern. The reference
// rounds in the two documented stages with nothing but the C library:
// snprintf("%.16e") gives the 17 correctly rounded significant digits, which
// are cut to 8 (or 4) digits, a first dropped digit of 5 or more rounding up
// in magnitude and a carry out of the last digit raising the exponent. Then:
//   - the text is exactly the reference's layout, at the documented widths;
//   - strtod reads the whole text back as the reference value;
//   - the reference differs from a single correct rounding (snprintf with 8
//     or 4 digits) only where the 17 digits end in a bare 5 at the cut, the
//     case the two stages exist for.
// Random bit patterns seldom land where the rounding is decided, so every
// 8 bytes also make values on and beside a cut: the double nearest a decimal
// ending in 5 just past the 8th (or 4th) digit and its two neighbours, and
// short binary fractions, whose decimal expansions end in an exact 5.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "number_format.hpp"

namespace {

using tervalin::kFormatBufferSize;

[[noreturn]] void fail(const char* what, double value, const std::string& text,
                       const std::string& expected) {
    std::fprintf(stderr, "fuzz_number_format: %s: %a gave \"%s\", expected \"%s\"\n", what,
                 value, text.c_str(), expected.c_str());
    std::abort();
}

// A decimal with a fixed count of significant digits (all zeros for zero).
struct Decimal {
    std::string digits;
    int exponent = 0;  // of the first digit

    bool operator==(const Decimal&) const = default;
};

// Adds one unit in the last digit; all nines become 10..0, one exponent up.
Decimal next_up(Decimal d) {
    std::size_t i = d.digits.size();
    while (i > 0 && d.digits[i - 1] == '9') {
        d.digits[--i] = '0';
    }
    if (i == 0) {
        d.digits[0] = '1';
        ++d.exponent;
    } else {
        ++d.digits[i - 1];
    }
    return d;
}

// |value| correctly rounded to `digits` significant digits by the C library.
Decimal c_library_rounding(double value, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", digits - 1, std::fabs(value));
    Decimal d;
    d.digits += text[0];
    if (digits > 1) {
        d.digits.append(text + 2, static_cast<std::size_t>(digits - 1));
    }
    d.exponent = std::atoi(std::strchr(text, 'e') + 1);
    return d;
}

// |value| in the two stages; `tail` gets the 17-digit text's dropped digits.
Decimal two_stage_rounding(double value, int digits, std::string& tail) {
    const Decimal seventeen = c_library_rounding(value, 17);
    Decimal d{seventeen.digits.substr(0, static_cast<std::size_t>(digits)), seventeen.exponent};
    tail = seventeen.digits.substr(static_cast<std::size_t>(digits));
    return tail[0] >= '5' ? next_up(d) : d;
}

std::string exponent_text(int exponent) {
    char text[16];
    std::snprintf(text, sizeof text, "e%c%03d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return text;
}

std::string right_aligned(const std::string& text, std::size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

std::string non_finite_text(double value) {
    return std::isnan(value) ? "nan" : value < 0 ? "-inf" : "inf";
}

std::string sign_text(double value) { return std::signbit(value) ? "-" : ""; }

// "%14.7e" of the reference.
std::string expected_e14_7(double value, const Decimal& d) {
    return sign_text(value) + d.digits.substr(0, 1) + "." + d.digits.substr(1) +
           exponent_text(d.exponent);
}

// "%8.4g" of the reference: plain for exponents -4 to 3, trailing zeros and
// a bare point dropped.
std::string expected_g8_4(double value, const Decimal& d) {
    if (value == 0.0) {
        return right_aligned(sign_text(value) + "0", 8);
    }
    const auto trimmed = [](std::string integer, std::string fraction) {
        while (!fraction.empty() && fraction.back() == '0') {
            fraction.pop_back();
        }
        return fraction.empty() ? integer : integer + "." + fraction;
    };
    std::string body;
    if (d.exponent >= 0 && d.exponent <= 3) {
        const auto split = static_cast<std::size_t>(d.exponent) + 1;
        body = trimmed(d.digits.substr(0, split), d.digits.substr(split));
    } else if (d.exponent < 0 && d.exponent >= -4) {
        body = trimmed("0", std::string(static_cast<std::size_t>(-d.exponent - 1), '0') + d.digits);
    } else {
        body = trimmed(d.digits.substr(0, 1), d.digits.substr(1)) + exponent_text(d.exponent);
    }
    return right_aligned(sign_text(value) + body, 8);
}

// The reference decimal as a value, signed as `value`.
double reference_value(double value, const Decimal& d) {
    const std::string text =
        sign_text(value) + d.digits.substr(0, 1) + "." + d.digits.substr(1) + exponent_text(d.exponent);
    return std::strtod(text.c_str(), nullptr);
}

// Calls one format into a heap buffer of exactly kFormatBufferSize bytes, so
// that a write past it is caught.
template <typename Format>
std::string formatted(Format format, double value) {
    static char* const buffer = new char[kFormatBufferSize];
    const std::size_t length = format(value, buffer);
    if (length > kFormatBufferSize) {
        fail("length beyond the buffer", value, "", "");
    }
    return std::string(buffer, length);
}

void check_format(const char* name, double value, const std::string& text, int digits,
                  const std::string& expected) {
    if (text != expected) {
        fail(name, value, text, expected);
    }
    if (!std::isfinite(value) || value == 0.0) {
        return;
    }
    std::string tail;
    const Decimal reference = two_stage_rounding(value, digits, tail);
    const Decimal direct = c_library_rounding(value, digits);
    const bool bare_half = tail[0] == '5' && tail.find_first_not_of('0', 1) == std::string::npos;
    if (!(reference == direct || (bare_half && reference == next_up(direct)))) {
        fail("two-stage reference strays from correct rounding", value, text, expected);
    }
    const char* first = text.c_str();
    char* end = nullptr;
    const double parsed = std::strtod(first, &end);
    if (end != first + text.size()) {
        fail("text does not read back whole", value, text, expected);
    }
    if (parsed != reference_value(value, reference) ||
        std::signbit(parsed) != std::signbit(value)) {
        fail("text reads back as another value", value, text, expected);
    }
}

void check_value(double value) {
    const std::string e = formatted(tervalin::format_e14_7, value);
    const std::string g = formatted(tervalin::format_g8_4, value);
    if (!std::isfinite(value)) {
        check_format("format_e14_7", value, e, 8, right_aligned(non_finite_text(value), 14));
        check_format("format_g8_4", value, g, 4, right_aligned(non_finite_text(value), 8));
        return;
    }
    const std::size_t e_width = std::signbit(value) ? 15 : 14;
    if (e.size() != e_width) {
        fail("format_e14_7 width", value, e, "");
    }
    if (g.size() < 8 || (g.size() > 8 && g[0] == ' ')) {
        fail("format_g8_4 width", value, g, "");
    }
    std::string tail;
    check_format("format_e14_7", value, e, 8,
                 expected_e14_7(value, two_stage_rounding(value, 8, tail)));
    check_format("format_g8_4", value, g, 4,
                 expected_g8_4(value, two_stage_rounding(value, 4, tail)));
}

void check_value_and_neighbours(double value) {
    for (const double v : {value, std::nextafter(value, 0.0), std::nextafter(value, HUGE_VAL)}) {
        check_value(v);
        check_value(-v);
    }
}

void check_near_cuts(std::uint64_t bits) {
    // A decimal of `digits` digits then a 5, at any exponent of the double range.
    const int exponent = static_cast<int>(bits % 617) - 308;
    for (const int digits : {8, 4}) {
        std::uint64_t rest = bits / 617;
        std::string text(1, static_cast<char>('1' + rest % 9));
        text += '.';
        for (int i = 1; i < digits; ++i, rest /= 10) {
            text += static_cast<char>('0' + rest % 10);
        }
        text += "5e" + std::to_string(exponent);
        check_value_and_neighbours(std::strtod(text.c_str(), nullptr));
    }
    // An odd number of up to 30 bits over a power of two up to 2^60: exact.
    const double odd = static_cast<double>((bits & 0x3FFFFFFFu) | 1u);
    check_value_and_neighbours(std::ldexp(odd, -static_cast<int>((bits >> 30) % 61)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i + sizeof(double) <= size; i += sizeof(double)) {
        double value = 0.0;
        std::memcpy(&value, data + i, sizeof value);
        check_value(value);
        std::uint64_t bits = 0;
        std::memcpy(&bits, data + i, sizeof bits);
        check_near_cuts(bits);
    }
    return 0;
}
