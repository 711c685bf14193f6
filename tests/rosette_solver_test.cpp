#include "rosette_solver.hpp"

#include <gtest/gtest.h>

namespace tervalin {
namespace {

struct SolverCase {
    double x, d, y;
    double e1, e2, shear;
};

// Worked examples, exact to the bit: the solver's order of operations is fixed.
TEST(RosetteSolver, WorkedExamplesToTheBit) {
    const SolverCase cases[] = {
        // x,     d,    y,    e1,                  e2,                   shear
        {100, 50, 0, 100, 0, 100},  // uniaxial strain along X
        {0, 50, 0, 50, -50, 100},   // pure shear
        {0, -50, 0, 50, -50, 100},  // pure shear of the other sense
        {300, 100, -100, 300, -100, 400},  // principal axes along X and Y
        {-200, -50, 100, 100, -200, 300},
        {400, 300, 0, 423.60679774997897, -23.606797749978966, 447.21359549995793},
        {7, 7, 7, 7, 7, 0},    // equal strains: zero discriminant
        {-3, -3, -3, -3, -3, 0},
    };
    for (const SolverCase& c : cases) {
        const PrincipalStrains r = solve_principal_strains(c.x, c.d, c.y);
        EXPECT_EQ(r.e1, c.e1) << c.x << ' ' << c.d << ' ' << c.y;
        EXPECT_EQ(r.e2, c.e2) << c.x << ' ' << c.d << ' ' << c.y;
        EXPECT_EQ(r.shear, c.shear) << c.x << ' ' << c.d << ' ' << c.y;
    }
}

// Nearly equal strains push the discriminant below zero by rounding
// (-6.9e-18 here); the row must still show their common value, not zeros.
TEST(RosetteSolver, NegativeDiscriminantFromRoundingGivesTheMeanStrain) {
    const SolverCase cases[] = {
        // x,                   d,   y,                    e1 = e2 = s / 2
        {0.09999999999999996, 0.1, 0.1, 0.09999999999999998, 0.09999999999999998, 0},
        {0.10000000000000003, 0.1, 0.10000000000000005, 0.10000000000000003,
         0.10000000000000003, 0},
    };
    for (const SolverCase& c : cases) {
        const PrincipalStrains r = solve_principal_strains(c.x, c.d, c.y);
        EXPECT_EQ(r.e1, c.e1);
        EXPECT_EQ(r.e2, c.e2);
        EXPECT_EQ(r.shear, c.shear);
    }
}

}  // namespace
}  // namespace tervalin
