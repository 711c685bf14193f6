// The kept rows of a run and the principal strain file written from them.
//
// One line per row, time then e1, e2 and shear, "%14.7e" fields joined by two
// blanks (see number_format.hpp):
//
//   time 0.001, strains x = 400, d = 300, y = 0 ->
//   "1.0000000e-003  4.2360680e+002  -2.3606798e+001  4.4721360e+002\n"
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "rosette_solver.hpp"

namespace tervalin {

// The most rows a run reads and keeps: the row loop's bound and the history's size.
inline constexpr std::int32_t kMaxRows = 1'000'000;

// Time (seconds) and principal strains (microstrain) of every kept row, in
// columns sized once for the largest run; rows 0 to count - 1 are in use.
struct StrainHistory {
    std::array<double, kMaxRows> time{};
    std::array<double, kMaxRows> e1{};
    std::array<double, kMaxRows> e2{};
    std::array<double, kMaxRows> shear{};
    std::int32_t count = 0;

    // Stores row `count`; the caller keeps count below kMaxRows.
    void append(double row_time, const PrincipalStrains& strains) noexcept;
};

// Writes every kept row, first to last, one line each, in large blocks;
// false when a write or the final flush failed (a full disk, say).
[[nodiscard]] bool write_principal_strain_file(const StrainHistory& history,
                                               std::FILE* out) noexcept;

}  // namespace tervalin
