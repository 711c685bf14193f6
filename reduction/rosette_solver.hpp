// Principal strains of a rectangular (0/45/90 degree) strain-gauge rosette.
//
//   solve_principal_strains(100, 50, 0)  -> {e1 = 100, e2 = 0,   shear = 100}
//   solve_principal_strains(0, 50, 0)    -> {e1 = 50,  e2 = -50, shear = 100}
//   solve_principal_strains(400, 300, 0) -> {423.60679774997897, -23.606797749978966,
//                                            447.21359549995793}
//
// All strains are microstrain and are never scaled.
#pragma once

namespace tervalin {

// The larger and smaller principal strains of one row and the maximum shear,
// which is e1 - e2 as computed, not the square root it came from.
struct PrincipalStrains {
    double e1 = 0.0;
    double e2 = 0.0;
    double shear = 0.0;
};

// Solves one row from the X-axis (x), 45 degree (d) and Y-axis (y) strains.
// Every step is one binary64 operation in a fixed order, so the bits are the
// same on every compiler; a discriminant pushed below zero by rounding counts
// as zero (the three strains are then practically equal). Never fails.
[[nodiscard]] PrincipalStrains solve_principal_strains(double x, double d, double y) noexcept;

}  // namespace tervalin
