#include "synthetic_rosette.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <numbers>

namespace tervalin::bench {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kPoisson = 0.3;
constexpr double kNoiseLevel = 1.5;  // microstrain, about a gauge amplifier's

// Three decimal digits always, so "5" after the point is "005".
char* put_milli_digits(std::uint64_t milli, char* out) noexcept {
    out[2] = static_cast<char>('0' + milli % 10);
    out[1] = static_cast<char>('0' + milli / 10 % 10);
    out[0] = static_cast<char>('0' + milli / 100 % 10);
    return out + 3;
}

// Integer arithmetic keeps the fixed form exact and far cheaper than a
// general double conversion.
char* put_fixed_milli(std::int64_t milli, char* out) noexcept {
    if (milli < 0) {
        *out++ = '-';
    }
    const std::uint64_t magnitude = milli < 0 ? 0 - static_cast<std::uint64_t>(milli)
                                              : static_cast<std::uint64_t>(milli);
    out = std::to_chars(out, out + 24, magnitude / 1000).ptr;
    *out++ = '.';
    return put_milli_digits(magnitude % 1000, out);
}

char* put_exponent(double value, int precision, char* out) noexcept {
    return std::to_chars(out, out + 32, value, std::chars_format::scientific, precision).ptr;
}

}  // namespace

SyntheticRosette::SyntheticRosette(std::uint64_t seed) noexcept
    : state_(seed ^ 0x9e3779b97f4a7c15ULL) {
    // Amplitudes vary with the seed but stay within a few hundred to 2,000
    // microstrain, where metal parts under service loads usually sit.
    axial_ = 800.0 + 700.0 * unit();
    ripple_ = 100.0 + 200.0 * unit();
    bending_ = 100.0 + 200.0 * unit();
    shear_ = 300.0 + 500.0 * unit();
    offset_ = -100.0 + 200.0 * unit();
    phase_ = kTwoPi * unit();
}

std::uint64_t SyntheticRosette::next_bits() noexcept {
    // splitmix64: tiny, fast, and the same everywhere.
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

double SyntheticRosette::unit() noexcept {
    return static_cast<double>(next_bits() >> 11) * 0x1.0p-53;
}

double SyntheticRosette::noise() noexcept {
    // A sum of four uniforms is close enough to Gaussian for gauge noise and
    // needs no logarithm.
    const double sum = unit() + unit() + unit() + unit();
    return (sum - 2.0) * kNoiseLevel * 1.7320508075688772;
}

RosetteStrains SyntheticRosette::next() noexcept {
    const double t = static_cast<double>(row_++) * kTimeStep;
    const double axial = offset_ + axial_ * std::sin(kTwoPi * 0.5 * t) +
                         ripple_ * std::sin(kTwoPi * 3.1 * t + phase_);
    const double y = -kPoisson * axial + bending_ * std::sin(kTwoPi * 0.17 * t);
    const double shear = shear_ * std::sin(kTwoPi * 0.5 * t + phase_ + 1.0);
    RosetteStrains strains;
    strains.x = axial + noise();
    strains.y = y + noise();
    strains.d = 0.5 * (axial + y) + 0.5 * shear + noise();
    return strains;
}

char* put_time(std::int64_t row, NumberStyle style, char* out) noexcept {
    if (style == NumberStyle::exponent) {
        // Nine decimals keep every millisecond of a 10,000,000-row record.
        return put_exponent(static_cast<double>(row) / 1000.0, 9, out);
    }
    return put_fixed_milli(row, out);
}

char* put_strain(double microstrain, NumberStyle style, char* out) noexcept {
    const std::int64_t milli = std::llround(microstrain * 1000.0);
    if (style == NumberStyle::exponent) {
        return put_exponent(static_cast<double>(milli) / 1000.0, 6, out);
    }
    return put_fixed_milli(milli, out);
}

char* put_line(std::int64_t row, double microstrain, NumberStyle style, bool crlf,
               char* out) noexcept {
    out = put_time(row, style, out);
    *out++ = '\t';
    out = put_strain(microstrain, style, out);
    if (crlf) {
        *out++ = '\r';
    }
    *out++ = '\n';
    return out;
}

ChannelTexts make_channel_texts(std::int64_t rows, std::uint64_t seed, NumberStyle style,
                                bool crlf) {
    ChannelTexts texts;
    SyntheticRosette rosette(seed);
    std::array<char, kMaxLineSize> line{};
    for (std::int64_t row = 0; row < rows; ++row) {
        const RosetteStrains s = rosette.next();
        texts.x.append(line.data(), put_line(row, s.x, style, crlf, line.data()));
        texts.d.append(line.data(), put_line(row, s.d, style, crlf, line.data()));
        texts.y.append(line.data(), put_line(row, s.y, style, crlf, line.data()));
    }
    return texts;
}

}  // namespace tervalin::bench
