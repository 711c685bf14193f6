#include "strain_summary.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "rosette_solver.hpp"

namespace tervalin {
namespace {

// The extremes and peaks after a run over `rows` (x, d, y strains each).
struct RunFigures {
    std::array<ChannelExtremes, kChannelCount> extremes{};
    PeakStrains peaks;
};

RunFigures follow(const std::vector<SampleRow>& rows) {
    RunFigures figures;
    for (const SampleRow& row : rows) {
        update_extremes(figures.extremes, row);
        update_peaks(figures.peaks, solve_principal_strains(row.x, row.d, row.y));
    }
    return figures;
}

TEST(ChannelExtremes, SeedsAndUpdates) {
    struct Case {
        const char* what;
        std::vector<SampleRow> rows;  // time, x, d, y
        double x_max, x_min, d_max, d_min;
    } const cases[] = {
        // what, rows, X max, X min, 45 max, 45 min
        {"no row: the seeds", {}, -1e90, 1e90, -1e90, 1e90},
        {"one row", {{0, 3, -4, 5}}, 3, 3, -4, -4},
        {"all -5", {{0, -5, -5, 0}, {1, -5, -5, 0}, {2, -5, -5, 0}}, -5, -5, -5, -5},
        {"up and down", {{0, 1, 10, 0}, {1, -7, 2, 0}, {2, 4, 11, 0}}, 4, -7, 11, 2},
    };
    for (const auto& c : cases) {
        const RunFigures f = follow(c.rows);
        EXPECT_EQ(f.extremes[0].max, c.x_max) << c.what;
        EXPECT_EQ(f.extremes[0].min, c.x_min) << c.what;
        EXPECT_EQ(f.extremes[1].max, c.d_max) << c.what;
        EXPECT_EQ(f.extremes[1].min, c.d_min) << c.what;
    }
}

TEST(PeakStrains, GreatestMagnitudeWithItsSignEarlierWinsTies) {
    struct Case {
        const char* what;
        std::vector<PrincipalStrains> results;  // e1, e2, shear
        double e1, e2, shear;
    } const cases[] = {
        // what, row results, peak e1, peak e2, peak shear
        {"no row", {}, 0, 0, 0},
        {"e2 of -10 then 3", {{1, -10, 11}, {5, 3, 2}}, 5, -10, 11},
        {"e1 of 5 then -5: the earlier stays", {{5, 0, 5}, {-5, -6, 1}}, 5, -6, 5},
        {"zeros never replace a peak", {{2, -1, 3}, {0, 0, 0}}, 2, -1, 3},
    };
    for (const auto& c : cases) {
        PeakStrains peaks;
        for (const PrincipalStrains& r : c.results) {
            update_peaks(peaks, r);
        }
        EXPECT_EQ(peaks.e1, c.e1) << c.what;
        EXPECT_EQ(peaks.e2, c.e2) << c.what;
        EXPECT_EQ(peaks.shear, c.shear) << c.what;
    }
}

// The summary as printed to a binary stream (std::tmpfile wants the drive's
// root on Windows, so a file in the temporary folder).
std::string summary_text(const RunFigures& figures) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("tervalin-summary-" + std::to_string(std::random_device{}()) + ".txt");
    std::FILE* file = std::fopen(path.string().c_str(), "w+b");
    print_strain_summary(figures.extremes, figures.peaks, file);
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        text += static_cast<char>(c);
    }
    std::fclose(file);
    std::filesystem::remove(path);
    return text;
}

TEST(StrainSummary, WholeTextForOneRow) {
    // x = 400, d = 300, y = 0: e1 423.6068, e2 -23.6068, shear 447.2136.
    EXPECT_EQ(summary_text(follow({{0.001, 400, 300, 0}})),
              "\n\n Strain Summary \n"
              "\n X-axis: max=      400  min=      400"
              "\n 45 deg: max=      300  min=      300"
              "\n Y-axis: max=        0  min=        0\n"
              "\n max e1    =    423.6 "
              "\n max e2    =   -23.61 "
              "\n max shear =    447.2 \n");
}

TEST(StrainSummary, HalvesRoundUpInMagnitude) {
    // 12.125 is exact in binary: a dropped half must round up, not to even.
    // Peaks from an independent computation: 25.2338..., -13.1088..., 38.3426...
    EXPECT_EQ(summary_text(follow({{0, 12.125, -12.125, 0}})),
              "\n\n Strain Summary \n"
              "\n X-axis: max=    12.13  min=    12.13"
              "\n 45 deg: max=   -12.13  min=   -12.13"
              "\n Y-axis: max=        0  min=        0\n"
              "\n max e1    =    25.23 "
              "\n max e2    =   -13.11 "
              "\n max shear =    38.34 \n");
}

}  // namespace
}  // namespace tervalin
