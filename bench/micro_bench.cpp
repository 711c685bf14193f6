// Micro-benchmarks of the program's hot paths on realistic numbers, with the
// standard library's conversions alongside for scale.
//
// Per-number benchmarks handle one number per iteration, so their Time column
// is the cost of one number. Whole-file benchmarks report per_row, the time
// per row (an inverted rate: "45n" is 45 ns).
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "channel_reader.hpp"
#include "number_format.hpp"
#include "rosette_solver.hpp"
#include "strain_history.hpp"
#include "synthetic_rosette.hpp"

namespace {

namespace tb = tervalin::bench;
using tervalin::kChannelCount;

constexpr std::uint64_t kSeed = 1234;
// Rows of the in-memory and temporary channel records: large enough to leave
// the caches as a real record does, small enough to set up in a moment.
constexpr std::int64_t kTextRows = 200'000;
// Values cycled through by the per-number benchmarks (a power of two).
constexpr std::size_t kValueCount = 4096;

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

tb::NumberStyle style_of(std::int64_t arg) {
    return arg == 1 ? tb::NumberStyle::exponent : tb::NumberStyle::fixed;
}

const char* style_label(std::int64_t arg) {
    static constexpr std::array<const char*, 3> kLabels{"fixed LF", "exponent LF", "fixed CRLF"};
    return kLabels[static_cast<std::size_t>(arg)];
}

// Argument 0: fixed with LF, 1: exponent with LF, 2: fixed with CRLF.
const std::string& channel_text(std::int64_t arg) {
    static std::array<std::string, 3> texts;
    std::string& text = texts[static_cast<std::size_t>(arg)];
    if (text.empty()) {
        text = tb::make_channel_texts(kTextRows, kSeed, style_of(arg), arg == 2).d;
    }
    return text;
}

void scan_number(benchmark::State& state) {
    const std::string& text = channel_text(state.range(0));
    const char* const first = text.data();
    const char* const last = first + text.size();
    const char* p = first;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const char* start = p;
        while (p != last && is_blank(*p)) {
            ++p;
        }
        if (p == last) {
            p = first;
            start = p;
        }
        const tervalin::ScanResult result = tervalin::scan_number(p, last);
        benchmark::DoNotOptimize(result.value);
        p = result.ptr;
        bytes += p - start;
    }
    state.SetBytesProcessed(bytes);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.SetLabel(style_label(state.range(0)));
}
BENCHMARK(scan_number)->DenseRange(0, 2);

// Three channel files in a private temporary folder, removed at exit.
class ChannelFiles {
public:
    explicit ChannelFiles(std::int64_t style_arg) {
        folder_ = std::filesystem::temp_directory_path() /
                  ("tervalin_micro_bench_" + std::to_string(getpid()) + "_" +
                   std::to_string(style_arg));
        std::filesystem::create_directories(folder_);
        const tb::ChannelTexts texts =
            tb::make_channel_texts(kTextRows, kSeed, style_of(style_arg), style_arg == 2);
        const std::array<const std::string*, 3> contents{&texts.x, &texts.d, &texts.y};
        for (std::size_t c = 0; c < contents.size(); ++c) {
            names_[c] = (folder_ / ("channel" + std::to_string(c) + ".txt")).string();
            write_file(names_[c], *contents[c]);
            bytes_ += static_cast<std::int64_t>(contents[c]->size());
        }
    }
    ChannelFiles(const ChannelFiles&) = delete;
    ChannelFiles& operator=(const ChannelFiles&) = delete;
    ~ChannelFiles() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    [[nodiscard]] const std::string& name(std::size_t channel) const { return names_[channel]; }
    [[nodiscard]] std::int64_t bytes() const { return bytes_; }

private:
    static void write_file(const std::string& name, const std::string& text) {
        std::FILE* file = std::fopen(name.c_str(), "wb");
        if (file != nullptr) {
            std::fwrite(text.data(), 1, text.size(), file);
            std::fclose(file);
        }
    }

    std::filesystem::path folder_;
    std::array<std::string, 3> names_;
    std::int64_t bytes_ = 0;
};

// Opens the three files the way the program does and reads every row;
// returns the rows read, -1 when a file would not open.
std::int64_t read_all_rows(const ChannelFiles& files) {
    static std::array<std::array<char, tervalin::kChannelBufferSize>, kChannelCount> buffers;
    std::array<tervalin::GaugeChannel, kChannelCount> channels{};
    std::array<std::FILE*, kChannelCount> handles{};
    std::int64_t rows = 0;
    bool opened = true;
    for (std::size_t c = 0; c < channels.size(); ++c) {
        handles[c] = std::fopen(files.name(c).c_str(), "rb");
        opened = opened && handles[c] != nullptr;
        if (handles[c] != nullptr) {
            std::setvbuf(handles[c], nullptr, _IONBF, 0);
        }
        channels[c].stream.attach(handles[c], buffers[c]);
    }
    tervalin::SampleRow row;
    while (opened && tervalin::read_sample_row(channels, row)) {
        benchmark::DoNotOptimize(row);
        ++rows;
    }
    for (std::FILE* handle : handles) {
        if (handle != nullptr) {
            std::fclose(handle);
        }
    }
    return opened ? rows : -1;
}

void read_sample_row(benchmark::State& state) {
    const ChannelFiles files(state.range(0));
    for (auto _ : state) {
        if (read_all_rows(files) != kTextRows) {
            state.SkipWithError("channel files were not read to their end");
            break;
        }
    }
    state.SetBytesProcessed(files.bytes() * static_cast<std::int64_t>(state.iterations()));
    state.SetItemsProcessed(kTextRows * static_cast<std::int64_t>(state.iterations()));
    state.counters["per_row"] = benchmark::Counter(
        static_cast<double>(kTextRows),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel(style_label(state.range(0)));
}
BENCHMARK(read_sample_row)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

std::vector<tb::RosetteStrains> rosette_rows() {
    tb::SyntheticRosette rosette(kSeed);
    std::vector<tb::RosetteStrains> rows(kValueCount);
    for (tb::RosetteStrains& row : rows) {
        row = rosette.next();
    }
    return rows;
}

void solve_principal_strains(benchmark::State& state) {
    const std::vector<tb::RosetteStrains> rows = rosette_rows();
    std::size_t i = 0;
    for (auto _ : state) {
        const tb::RosetteStrains& row = rows[i];
        i = (i + 1) & (kValueCount - 1);
        tervalin::PrincipalStrains result = tervalin::solve_principal_strains(row.x, row.d, row.y);
        benchmark::DoNotOptimize(result);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(solve_principal_strains);

// What the output file holds: times and the solver's results, in turn.
const std::vector<double>& output_values() {
    static const std::vector<double> values = [] {
        std::vector<double> out;
        const std::vector<tb::RosetteStrains> rows = rosette_rows();
        for (std::size_t r = 0; out.size() < kValueCount; ++r) {
            const tb::RosetteStrains& row = rows[r];
            const tervalin::PrincipalStrains p =
                tervalin::solve_principal_strains(row.x, row.d, row.y);
            out.insert(out.end(), {static_cast<double>(r) * tb::kTimeStep, p.e1, p.e2, p.shear});
        }
        return out;
    }();
    return values;
}

template <typename Format>
void run_format(benchmark::State& state, Format format) {
    const std::vector<double>& values = output_values();
    std::array<char, 64> out{};
    std::size_t i = 0;
    for (auto _ : state) {
        const auto length = format(values[i], out.data());
        i = (i + 1) & (kValueCount - 1);
        benchmark::DoNotOptimize(length);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void format_e14_7(benchmark::State& state) {
    run_format(state, [](double v, char* out) { return tervalin::format_e14_7(v, out); });
}
BENCHMARK(format_e14_7);

void format_g8_4(benchmark::State& state) {
    run_format(state, [](double v, char* out) { return tervalin::format_g8_4(v, out); });
}
BENCHMARK(format_g8_4);

void std_to_chars_scientific_16(benchmark::State& state) {
    run_format(state, [](double v, char* out) {
        return std::to_chars(out, out + 64, v, std::chars_format::scientific, 16).ptr - out;
    });
}
BENCHMARK(std_to_chars_scientific_16);

void snprintf_e14_7(benchmark::State& state) {
    run_format(state, [](double v, char* out) { return std::snprintf(out, 64, "%14.7e", v); });
}
BENCHMARK(snprintf_e14_7);

// A full history, as the program holds it at the row limit (32 MB).
tervalin::StrainHistory full_history;

void fill_history() {
    if (full_history.count == tervalin::kMaxRows) {
        return;
    }
    tb::SyntheticRosette rosette(kSeed);
    full_history.count = 0;
    for (std::int64_t r = 0; r < tervalin::kMaxRows; ++r) {
        const tb::RosetteStrains row = rosette.next();
        full_history.append(static_cast<double>(r) * tb::kTimeStep,
                            tervalin::solve_principal_strains(row.x, row.d, row.y));
    }
}

// Four 14-character fields, three two-blank separators and a line end make
// 63 characters a line; a negative field adds its sign.
std::int64_t output_bytes(const tervalin::StrainHistory& history) {
    std::int64_t bytes = 63 * static_cast<std::int64_t>(history.count);
    for (std::size_t r = 0; r < static_cast<std::size_t>(history.count); ++r) {
        for (const double v : {history.time[r], history.e1[r], history.e2[r], history.shear[r]}) {
            bytes += std::signbit(v) ? 1 : 0;
        }
    }
    return bytes;
}

// Writes the whole principal strain file to /dev/null unbuffered, as the
// program's output is; the cost is formatting and write calls, not the disk.
void write_principal_strain_file(benchmark::State& state) {
    fill_history();
    std::FILE* sink = std::fopen("/dev/null", "w");
    if (sink == nullptr) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    std::setvbuf(sink, nullptr, _IONBF, 0);
    for (auto _ : state) {
        if (!tervalin::write_principal_strain_file(full_history, sink)) {
            state.SkipWithError("write failed");
            break;
        }
    }
    std::fclose(sink);
    state.SetBytesProcessed(output_bytes(full_history) *
                            static_cast<std::int64_t>(state.iterations()));
    state.SetItemsProcessed(tervalin::kMaxRows * static_cast<std::int64_t>(state.iterations()));
    state.counters["per_row"] = benchmark::Counter(
        static_cast<double>(tervalin::kMaxRows),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(write_principal_strain_file)->Unit(benchmark::kMillisecond);

// Four fresh columns of kMaxRows doubles, written row by row as the history
// is: the cost of first touching 32 MB, one page fault per 4 KiB page, or a
// few with transparent huge pages (argument 1). Mapping and unmapping are in
// the time, as the program's start and exit pay them too.
void history_first_touch(benchmark::State& state) {
    constexpr std::size_t kRows = tervalin::kMaxRows;
    constexpr std::size_t kBytes = 4 * kRows * sizeof(double);
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    const bool huge_pages = state.range(0) == 1;
    for (auto _ : state) {
        void* const base = mmap(nullptr, kBytes + kHugePage, PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) {
            state.SkipWithError("mmap failed");
            break;
        }
        // Huge pages need 2 MiB alignment, which mmap does not promise.
        const auto address = reinterpret_cast<std::uintptr_t>(base);
        auto* const columns =
            reinterpret_cast<double*>((address + kHugePage - 1) & ~(kHugePage - 1));
        if (huge_pages) {
            madvise(columns, kBytes, MADV_HUGEPAGE);
        }
        for (std::size_t r = 0; r < kRows; ++r) {
            const double v = static_cast<double>(r);
            columns[r] = v;
            columns[kRows + r] = v;
            columns[2 * kRows + r] = v;
            columns[3 * kRows + r] = v;
        }
        benchmark::DoNotOptimize(columns);
        benchmark::ClobberMemory();
        munmap(base, kBytes + kHugePage);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(kRows) * state.iterations());
    state.counters["per_row"] = benchmark::Counter(
        static_cast<double>(kRows),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel(huge_pages ? "huge pages advised" : "4 KiB pages");
}
BENCHMARK(history_first_touch)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

// The same stores into the history once its pages are in place.
void history_append_warm(benchmark::State& state) {
    fill_history();
    const std::vector<tb::RosetteStrains> rows = rosette_rows();
    for (auto _ : state) {
        full_history.count = 0;
        for (std::int32_t r = 0; r < tervalin::kMaxRows; ++r) {
            const tb::RosetteStrains& row = rows[static_cast<std::size_t>(r) & (kValueCount - 1)];
            full_history.append(row.x, {row.x, row.d, row.y});
        }
        benchmark::DoNotOptimize(full_history.count);
        benchmark::ClobberMemory();
    }
    full_history.count = 0;  // the writer's benchmark wants the realistic rows back
    fill_history();
    state.SetItemsProcessed(tervalin::kMaxRows * static_cast<std::int64_t>(state.iterations()));
    state.counters["per_row"] = benchmark::Counter(
        static_cast<double>(tervalin::kMaxRows),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(history_append_warm)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
