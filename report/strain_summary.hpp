// Channel extremes, peak strains and the console strain summary.
//
// With no row read the summary shows the seeds and zero peaks:
//   "\n X-axis: max=  -1e+090  min=   1e+090"  ...  "\n max e1    =        0 "
#pragma once

#include <cstdio>
#include <span>

#include "channel_reader.hpp"
#include "rosette_solver.hpp"

namespace tervalin {

// Magnitude of the extremes' seeds: any strain read replaces them.
inline constexpr double kExtremeSeed = 1e90;

// The largest and smallest strain of one channel so far (microstrain).
struct ChannelExtremes {
    double max = -kExtremeSeed;
    double min = kExtremeSeed;
};

// The e1, e2 and shear of greatest magnitude so far, sign kept (microstrain).
struct PeakStrains {
    double e1 = 0.0;
    double e2 = 0.0;
    double shear = 0.0;
};

// Takes in one row's strains; equal values change nothing.
void update_extremes(std::span<ChannelExtremes, kChannelCount> extremes,
                     const SampleRow& row) noexcept;

// Takes in one row's results; on equal magnitudes the earlier value stays.
void update_peaks(PeakStrains& peaks, const PrincipalStrains& strains) noexcept;

// Prints the strain summary, numbers as "%8.4g" (see number_format.hpp).
void print_strain_summary(std::span<const ChannelExtremes, kChannelCount> extremes,
                          const PeakStrains& peaks, std::FILE* out) noexcept;

}  // namespace tervalin
