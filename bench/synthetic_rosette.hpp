// Synthetic rosette records for the benchmarks: a plausible loading, noise,
// and the channel-file text written from it.
//
// The loading is a cyclic axial strain on the X axis, its Poisson share plus
// a bending term on the Y axis, and a shear that runs out of phase; the 45
// degree gauge reads what that strain state puts on it,
//   d = (x + y) / 2 + shear / 2,
// so the three channels agree with one another as a real rosette's do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tervalin::bench {

// Strains of one row, microstrain.
struct RosetteStrains {
    double x = 0.0;
    double d = 0.0;
    double y = 0.0;
};

// How a channel file spells its numbers.
enum class NumberStyle {
    fixed,     // "12.345": three decimals
    exponent,  // "1.234500e+01"
};

// Seconds between rows of every generated record.
inline constexpr double kTimeStep = 0.001;

// The same seed gives the same record, row for row, on every machine that
// has the same libm (the sines are the only library calls).
class SyntheticRosette {
public:
    explicit SyntheticRosette(std::uint64_t seed) noexcept;

    // Strains of the next row; rows start at 0.
    RosetteStrains next() noexcept;

private:
    [[nodiscard]] double noise() noexcept;
    [[nodiscard]] std::uint64_t next_bits() noexcept;
    [[nodiscard]] double unit() noexcept;

    std::uint64_t state_;
    std::int64_t row_ = 0;
    double axial_ = 0.0;
    double ripple_ = 0.0;
    double bending_ = 0.0;
    double shear_ = 0.0;
    double offset_ = 0.0;
    double phase_ = 0.0;
};

// Room one "time<TAB>strain<CR><LF>" line may take.
inline constexpr std::size_t kMaxLineSize = 64;

// Writes row `row`'s time (row * kTimeStep, exact to the millisecond) at
// `out`; returns one past the text.
char* put_time(std::int64_t row, NumberStyle style, char* out) noexcept;

// Writes a strain rounded to three decimals at `out`; returns one past it.
char* put_strain(double microstrain, NumberStyle style, char* out) noexcept;

// Writes one whole line, line end included; returns one past it.
char* put_line(std::int64_t row, double microstrain, NumberStyle style, bool crlf,
               char* out) noexcept;

// The text of the three channel files of `rows` rows, for in-memory use.
struct ChannelTexts {
    std::string x;
    std::string d;
    std::string y;
};
ChannelTexts make_channel_texts(std::int64_t rows, std::uint64_t seed, NumberStyle style,
                                bool crlf);

}  // namespace tervalin::bench
