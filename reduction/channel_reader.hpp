// Channel files and their synchronized reading.
//
// A channel file is a stream of decimal numbers taken two at a time, time in
// seconds then strain in microstrain, separated by any white space:
//
//   "0.000\t12.5\n0.001 -3e1\r\n"   -> pairs (0, 12.5), (0.001, -30)
//   "time strain\n0 1\n"           -> no pair: the header is not a number
//   "0,12.5\n"                     -> no pair: 0 is a time without its strain
//
// Each channel is read through one fixed buffer; nothing here allocates, and
// memory stays the same whatever the size of the files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <span>
#include <system_error>

namespace tervalin {

// The gauge directions, in the order every loop, prompt and summary uses.
enum class ChannelKind : int { x_axis = 0, deg45 = 1, y_axis = 2 };
inline constexpr int kChannelCount = 3;

// Size of a file-name buffer, terminator included: names hold 259 characters.
inline constexpr std::size_t kFileNameSize = 260;
// Bytes read from a channel file at a time.
inline constexpr std::size_t kChannelBufferSize = 64 * 1024;
// Smallest buffer a ChannelStream accepts: an exponent marker, its sign and
// one digit must fit in it to be told apart from the end of a number.
inline constexpr std::size_t kMinChannelBufferSize = 4;

// Result of scanning text: ptr is one past the number (first when ec is
// std::errc::invalid_argument, meaning no number starts there).
struct ScanResult {
    const char* ptr;
    std::errc ec;
    double value;
};

// Converts the longest prefix of [first, last) that is a number:
//   [+-]? ( digits ( "." digits* )? | "." digits ) ( [eE] [+-]? digits )?
// correctly rounded; beyond the binary64 range it gives +-infinity, below it
// +-0 or a subnormal, as strtod does. No white space is skipped; "inf",
// "nan" and "0x.." (past its 0) are not numbers.
[[nodiscard]] ScanResult scan_number(const char* first, const char* last) noexcept;

// What one attempt to read a time and strain pair found.
enum class ReadStatus {
    pair,          // both numbers converted
    end_of_data,   // only white space was left
    not_a_number,  // text that is not a number where the time should be
    half_pair,     // a time with no strain after it
    read_error,    // the system reported an error reading the file
};

// A channel file read through a caller's buffer.
class ChannelStream {
public:
    // Reads `file` (open in binary mode) through `buffer`, which must hold at
    // least kMinChannelBufferSize bytes and outlive the stream.
    void attach(std::FILE* file, std::span<char> buffer) noexcept;

    // Reads the next pair; time and strain are written only with ReadStatus::pair.
    ReadStatus read_pair(double& time, double& strain) noexcept;

    // True when non-blank text (or an unreadable part) remains after the
    // white space ahead; moves past that white space.
    [[nodiscard]] bool has_text_left() noexcept;

    [[nodiscard]] ReadStatus last_status() const noexcept { return last_status_; }
    [[nodiscard]] std::FILE* file() const noexcept { return file_; }

private:
    [[nodiscard]] bool skip_space() noexcept;
    [[nodiscard]] bool read_number(double& value) noexcept;
    [[nodiscard]] bool read_long_number(double& value) noexcept;
    [[nodiscard]] bool fill() noexcept;
    [[nodiscard]] bool ensure(std::size_t count) noexcept;

    std::FILE* file_ = nullptr;
    char* buffer_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool at_eof_ = false;
    bool failed_ = false;
    ReadStatus last_status_ = ReadStatus::pair;
};

// One gauge's record: its direction, the name typed for it, its stream and
// the strain of the last row read (microstrain).
struct GaugeChannel {
    ChannelKind kind = ChannelKind::x_axis;
    std::array<char, kFileNameSize> name{};
    ChannelStream stream;
    double strain = 0.0;
};

// One synchronized reading: the Y-axis file's time (seconds) and the three
// channels' strains (microstrain).
struct SampleRow {
    double time = 0.0;
    double x = 0.0;
    double d = 0.0;
    double y = 0.0;
};

// Reads the next pair of each channel, X axis first. Fails at the first
// channel whose read is not a whole pair; the channels after it are not read.
[[nodiscard]] bool read_sample_row(std::span<GaugeChannel, kChannelCount> channels,
                                   SampleRow& row) noexcept;

// Why data of a channel file became part of no kept row.
enum class UnusedReason {
    none,              // every number of the three files was used
    not_a_pair,        // text that is not a number, or a time without a strain
    read_error,        // the file could not be read to its end
    other_file_ended,  // another channel file ran out first
    row_limit,         // the row limit was reached with data left
};

struct UnusedData {
    int channel = -1;  // index into the channels, -1 with UnusedReason::none
    UnusedReason reason = UnusedReason::none;
};

// Finds the first channel (X axis first) holding data that no kept row used,
// once the row loop has ended; `row_limit_reached` tells that it ended at the
// row limit rather than at a failed read.
[[nodiscard]] UnusedData find_unused_data(std::span<GaugeChannel, kChannelCount> channels,
                                          bool row_limit_reached) noexcept;

}  // namespace tervalin
