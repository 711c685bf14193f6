#include "rosette_solver.hpp"

#include <cmath>

namespace tervalin {

PrincipalStrains solve_principal_strains(double x, double d, double y) noexcept {
    // The roots of  L^2 - s*L + (q - g^2/4) = 0,  formed in exactly this order:
    // files written by earlier versions were computed the same way, bit for bit.
    const double s = x + y;
    const double p = s * s;
    const double q = x * y;
    const double g = (2.0 * d - x) - y;  // engineering shear strain of the X-Y pair
    const double k = (q - (g * g) * 0.25) * (-4.0);
    double discriminant = p + k;
    // Algebraically (x - y)^2 + g^2 >= 0; a negative value is rounding noise
    // from nearly equal strains, whose true roots are both s / 2.
    if (discriminant < 0.0) {
        discriminant = 0.0;
    }
    PrincipalStrains result;
    const double r = std::sqrt(discriminant);
    result.e1 = (r + s) / 2.0;
    result.e2 = (s - r) / 2.0;
    result.shear = result.e1 - result.e2;
    return result;
}

}  // namespace tervalin
