// The straightforward stdio way of reducing a rosette record, kept only as a
// yardstick for the program's speed: static arrays, one fscanf per channel
// and row, one fprintf per output line. Not a product: no checks beyond the
// opens, no dialogue, no key wait.
//
//   classic_baseline X_FILE D_FILE Y_FILE OUTPUT
//
// Its text differs from the program's only in glibc's two-digit exponents
// (and, rarely, in the last digit where the program rounds in two stages).
#include <cmath>
#include <cstdio>

namespace {

constexpr int kMaxRows = 1000000;

double time_col[kMaxRows];
double x_col[kMaxRows];
double d_col[kMaxRows];
double y_col[kMaxRows];
double e1_col[kMaxRows];
double e2_col[kMaxRows];
double shear_col[kMaxRows];

int read_rows(std::FILE* fx, std::FILE* fd, std::FILE* fy) {
    double t = 0.0;
    int n = 0;
    while (n < kMaxRows) {
        if (std::fscanf(fx, "%lf %lf", &t, &x_col[n]) != 2) break;
        if (std::fscanf(fd, "%lf %lf", &t, &d_col[n]) != 2) break;
        if (std::fscanf(fy, "%lf %lf", &t, &y_col[n]) != 2) break;
        time_col[n] = t;
        ++n;
    }
    return n;
}

void solve_rows(int n) {
    for (int i = 0; i < n; ++i) {
        const double x = x_col[i];
        const double d = d_col[i];
        const double y = y_col[i];
        const double s = x + y;
        const double p = s * s;
        const double q = x * y;
        const double g = (2.0 * d - x) - y;
        const double k = (q - (g * g) * 0.25) * (-4.0);
        double big_d = p + k;
        if (big_d < 0) big_d = 0;
        const double r = std::sqrt(big_d);
        e1_col[i] = (r + s) / 2;
        e2_col[i] = (s - r) / 2;
        shear_col[i] = e1_col[i] - e2_col[i];
    }
}

void write_rows(std::FILE* out, int n) {
    for (int i = 0; i < n; ++i) {
        std::fprintf(out, "%14.7e  %14.7e  %14.7e  %14.7e\n", time_col[i], e1_col[i], e2_col[i],
                     shear_col[i]);
    }
}

std::FILE* open_or_say(const char* name, const char* mode) {
    std::FILE* f = std::fopen(name, mode);
    if (f == nullptr) std::fprintf(stderr, "classic_baseline: cannot open %s\n", name);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fputs("usage: classic_baseline X_FILE D_FILE Y_FILE OUTPUT\n", stderr);
        return 2;
    }
    std::FILE* fx = open_or_say(argv[1], "r");
    std::FILE* fd = open_or_say(argv[2], "r");
    std::FILE* fy = open_or_say(argv[3], "r");
    std::FILE* out = open_or_say(argv[4], "w");
    if (fx == nullptr || fd == nullptr || fy == nullptr || out == nullptr) return 1;
    const int n = read_rows(fx, fd, fy);
    solve_rows(n);
    write_rows(out, n);
    std::fclose(fx);
    std::fclose(fd);
    std::fclose(fy);
    return std::fclose(out) == 0 ? 0 : 1;
}
