#include "run_driver.hpp"

#include <array>
#include <cstdio>

#include "channel_reader.hpp"
#include "platform.hpp"
#include "rosette_solver.hpp"
#include "strain_history.hpp"
#include "strain_summary.hpp"

namespace tervalin {
namespace {

constexpr int kFailureStatus = 1;
constexpr const char* kContactAddress = "tervalin@example.org";

using FileName = std::array<char, kFileNameSize>;

// The large storage starts all zero, so it lives apart from the seeded run
// state: zero-filled statics take no room in the executable and no memory
// until used, and the history can be given large pages. (Not aligned to
// them: Windows object files cannot align past 8 KiB; the advice covers the
// whole large pages inside.)
StrainHistory history_storage;
std::array<std::array<char, kChannelBufferSize>, kChannelCount> channel_buffer_storage;

// Everything the run holds, from the dialogue to the end of the process.
struct RunState {
    std::array<GaugeChannel, kChannelCount> channels{};
    std::array<std::array<char, kChannelBufferSize>, kChannelCount>& channel_buffers =
        channel_buffer_storage;
    std::array<bool, kChannelCount> channel_name_too_long{};
    FileName output_name{};
    bool output_name_too_long = false;
    std::FILE* output = nullptr;
    StrainHistory& history = history_storage;
    std::array<ChannelExtremes, kChannelCount> extremes{};
    PeakStrains peaks;
};

RunState run_state;

void say(const char* text) noexcept {
    std::fputs(text, stdout);
}

constexpr bool is_space(int c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one white-space-delimited word from standard input, as much of it as
// fits; false when the word was longer (the rest is read and dropped, so any
// length costs no memory). At the end of input the name stays empty.
bool read_name(FileName& name) noexcept {
    std::fflush(stdout);  // the question must be on the screen before we wait
    int c = std::getchar();
    while (c != EOF && is_space(c)) {
        c = std::getchar();
    }
    std::size_t length = 0;
    bool fits = true;
    for (; c != EOF && !is_space(c); c = std::getchar()) {
        if (length + 1 < name.size()) {
            name[length++] = static_cast<char>(c);
        } else {
            fits = false;
        }
    }
    name[length] = '\0';
    return fits;
}

void say_failed_open(const FileName& name, bool too_long) noexcept {
    say(" Failed to open file: ");
    say(name.data());
    say(too_long ? "... \n" : " \n");
}

void print_banner_and_instructions() noexcept {
    say("\n tervalin.exe, ver 1.0, July 9, 2005");
    say("\n\n by Haskovar ");
    say("\n Email:  ");
    say(kContactAddress);
    say(" \n");
    say("\n\n Each input file must have two columns: time(sec) & microstrain. \n");
    say("\n The files must be synchronized. \n");
}

void ask_channel_names(RunState& run) noexcept {
    static constexpr std::array<const char*, kChannelCount> kQuestions{
        "\n\n Enter the X-axis filename:\n", "\n\n Enter the 45 degree filename:\n",
        "\n\n Enter the Y-axis filename:\n"};
    for (std::size_t c = 0; c < kQuestions.size(); ++c) {
        say(kQuestions[c]);
        run.channels[c].kind = static_cast<ChannelKind>(c);
        run.channel_name_too_long[c] = !read_name(run.channels[c].name);
    }
}

// Opens the channels in order, each with its message; stops at the first failure.
bool open_channel_files(RunState& run) noexcept {
    for (std::size_t c = 0; c < run.channels.size(); ++c) {
        GaugeChannel& channel = run.channels[c];
        // A cut name would open some other file: an over-long one is never tried.
        std::FILE* file = run.channel_name_too_long[c]
                              ? nullptr
                              : platform::open_channel_file(channel.name.data());
        if (file == nullptr) {
            say_failed_open(channel.name, run.channel_name_too_long[c]);
            return false;
        }
        channel.stream.attach(file, run.channel_buffers[c]);
        say(" File: ");
        say(channel.name.data());
        say(" opened. \n");
    }
    return true;
}

bool output_is_a_channel_file(const RunState& run) noexcept {
    for (const GaugeChannel& channel : run.channels) {
        if (platform::is_same_file(channel.stream.file(), run.output_name.data())) {
            return true;
        }
    }
    return false;
}

// Creates the principal strain file, refusing names that would lose data:
// a cut name, or one of the channel files, which creating would empty.
bool create_output(RunState& run) noexcept {
    if (!run.output_name_too_long && output_is_a_channel_file(run)) {
        say(" Output file is one of the channel files: ");
        say(run.output_name.data());
        say(" \n");
        return false;
    }
    run.output = run.output_name_too_long ? nullptr
                                          : platform::create_output_file(run.output_name.data());
    if (run.output == nullptr) {
        say_failed_open(run.output_name, run.output_name_too_long);
        return false;
    }
    return true;
}

// Reads, reduces and keeps rows until a read fails or the history is full;
// true when it stopped at the row limit.
bool read_all_rows(RunState& run) noexcept {
    SampleRow row;
    while (run.history.count < kMaxRows) {
        if (!read_sample_row(run.channels, row)) {
            return false;
        }
        update_extremes(run.extremes, row);
        const PrincipalStrains strains = solve_principal_strains(row.x, row.d, row.y);
        run.history.append(row.time, strains);
        update_peaks(run.peaks, strains);
    }
    return true;
}

const char* unused_reason_text(UnusedReason reason) noexcept {
    switch (reason) {
        case UnusedReason::not_a_pair:
            return "it is not a time and strain pair";
        case UnusedReason::read_error:
            return "the file could not be read";
        case UnusedReason::other_file_ended:
            return "another channel file ended before it";
        case UnusedReason::row_limit:
            return "the limit of 1000000 rows was reached";
        case UnusedReason::none:
            break;
    }
    return "";
}

// Data that became part of no row must not vanish silently; standard output
// stays as it is, so the note goes to standard error.
void report_unused_data(RunState& run, bool row_limit_reached) noexcept {
    const UnusedData unused = find_unused_data(run.channels, row_limit_reached);
    if (unused.reason == UnusedReason::none) {
        return;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "tervalin: data from row %ld of %s was not used: %s\n",
                 static_cast<long>(run.history.count) + 1,
                 run.channels[static_cast<std::size_t>(unused.channel)].name.data(),
                 unused_reason_text(unused.reason));
}

}  // namespace

int run_program() noexcept {
    RunState& run = run_state;
    print_banner_and_instructions();
    ask_channel_names(run);
    say("\n\n");
    if (!open_channel_files(run)) {
        return kFailureStatus;
    }
    say("\n\n Enter the principal strain output filename:\n");
    run.output_name_too_long = !read_name(run.output_name);
    if (!create_output(run)) {
        return kFailureStatus;
    }
    platform::advise_large_pages(&run.history, sizeof(StrainHistory));
    const bool row_limit_reached = read_all_rows(run);
    report_unused_data(run, row_limit_reached);
    if (!write_principal_strain_file(run.history, run.output)) {
        say(" Failed to write file: ");
        say(run.output_name.data());
        say(" \n");
        return kFailureStatus;
    }
    print_strain_summary(run.extremes, run.peaks, stdout);
    say("\n\n Program complete. \n Press any key to exit.");
    std::fflush(stdout);
    return platform::wait_for_key();
}

}  // namespace tervalin
