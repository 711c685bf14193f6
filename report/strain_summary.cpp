#include "strain_summary.hpp"

#include <array>
#include <cmath>
#include <cstring>

#include "number_format.hpp"

namespace tervalin {
namespace {

void take_larger(double& max, double value) noexcept {
    if (value > max) {
        max = value;
    }
}

void take_smaller(double& min, double value) noexcept {
    if (value < min) {
        min = value;
    }
}

void take_if_greater_magnitude(double& peak, double value) noexcept {
    if (std::fabs(peak) < std::fabs(value)) {
        peak = value;
    }
}

// Collects the summary text so it goes out in one write.
class SummaryText {
public:
    void text(const char* piece) noexcept {
        const std::size_t length = std::strlen(piece);
        std::memcpy(cursor_, piece, length);
        cursor_ += length;
    }
    void number(double value) noexcept { cursor_ += format_g8_4(value, cursor_); }
    void write_to(std::FILE* out) const noexcept {
        std::fwrite(text_.data(), 1, static_cast<std::size_t>(cursor_ - text_.data()), out);
    }

private:
    std::array<char, 1024> text_{};  // the summary is under 400 bytes
    char* cursor_ = text_.data();
};

}  // namespace

void update_extremes(std::span<ChannelExtremes, kChannelCount> extremes,
                     const SampleRow& row) noexcept {
    const std::array<double, kChannelCount> strains{row.x, row.d, row.y};
    for (std::size_t c = 0; c < strains.size(); ++c) {
        take_larger(extremes[c].max, strains[c]);
    }
    for (std::size_t c = 0; c < strains.size(); ++c) {
        take_smaller(extremes[c].min, strains[c]);
    }
}

void update_peaks(PeakStrains& peaks, const PrincipalStrains& strains) noexcept {
    take_if_greater_magnitude(peaks.e1, strains.e1);
    take_if_greater_magnitude(peaks.e2, strains.e2);
    take_if_greater_magnitude(peaks.shear, strains.shear);
}

void print_strain_summary(std::span<const ChannelExtremes, kChannelCount> extremes,
                          const PeakStrains& peaks, std::FILE* out) noexcept {
    static constexpr std::array<const char*, kChannelCount> kLineStarts{
        "\n X-axis: max= ", "\n 45 deg: max= ", "\n Y-axis: max= "};
    SummaryText summary;
    summary.text("\n\n Strain Summary \n");
    for (std::size_t c = 0; c < kLineStarts.size(); ++c) {
        summary.text(kLineStarts[c]);
        summary.number(extremes[c].max);
        summary.text("  min= ");
        summary.number(extremes[c].min);
    }
    summary.text("\n");
    summary.text("\n max e1    = ");
    summary.number(peaks.e1);
    summary.text(" \n max e2    = ");
    summary.number(peaks.e2);
    summary.text(" \n max shear = ");
    summary.number(peaks.shear);
    summary.text(" \n");
    summary.write_to(out);
}

}  // namespace tervalin
