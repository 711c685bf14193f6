// What the program does with the files and input engineers actually give it:
// folders, unreadable files, pipes still being written, huge files, endless
// lines, NUL bytes, over-long names, input that stops early, full disks. Each
// case runs the real program and checks its console text, standard error and
// exit status, that its memory stayed bounded, and that no channel file was
// changed.
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "console_texts.hpp"
#include "program_runner.hpp"

namespace tervalin {
namespace {

namespace fs = std::filesystem;
using namespace testing;  // the runner and the console texts

// ------------------------------------------------------------ console texts

constexpr int kFailureStatus = 1;

// The program's file-name buffer holds 259 characters.
constexpr std::size_t kLongestName = 259;

// An over-long name is shown cut, with an ellipsis.
std::string failed_long(const std::string& name) {
    return " Failed to open file: " + name.substr(0, kLongestName) + "... \n";
}
std::string failed_write(const std::string& name) {
    return " Failed to write file: " + name + " \n";
}
std::string output_is_channel(const std::string& name) {
    return " Output file is one of the channel files: " + name + " \n";
}
std::string not_used(long row, const std::string& name, const std::string& why) {
    return "tervalin: data from row " + std::to_string(row) + " of " + name +
           " was not used: " + why + "\n";
}
const std::string kNotAPair = "it is not a time and strain pair";
const std::string kRowLimit = "the limit of 1000000 rows was reached";

const std::string kAllOpened = opened("x.txt") + opened("d.txt") + opened("y.txt");

// The summary, from its numbers already formatted "%8.4g".
struct SummaryNumbers {
    const char* x_max;
    const char* x_min;
    const char* d_max;
    const char* d_min;
    const char* y_max;
    const char* y_min;
    const char* e1;
    const char* e2;
    const char* shear;
};

std::string summary(const SummaryNumbers& n) {
    return std::string("\n\n Strain Summary \n") +                   //
           "\n X-axis: max= " + n.x_max + "  min= " + n.x_min +      //
           "\n 45 deg: max= " + n.d_max + "  min= " + n.d_min +      //
           "\n Y-axis: max= " + n.y_max + "  min= " + n.y_min + "\n" +  //
           "\n max e1    = " + n.e1 + " \n max e2    = " + n.e2 + " \n max shear = " + n.shear +
           " \n";
}

// No row read: the extremes keep their seeds of -+1e90, the peaks are zero.
const std::string kNoRowSummary = summary({" -1e+090", "  1e+090", " -1e+090", "  1e+090",
                                           " -1e+090", "  1e+090", "       0", "       0",
                                           "       0"});

// --------------------------------------------------------------- the files

std::string pairs(int count) { return equal_channel_pairs(count); }
void write_channels(const TempFolder& folder, int rows) { write_equal_channels(folder, rows); }

// Writes `head`, `count` copies of `block` and `tail` to `path` in large writes
// of a buffer small enough not to weigh on this process's memory.
void write_repeated(const fs::path& path, const std::string& head, const std::string& block,
                    std::size_t count, const std::string& tail) {
    constexpr std::size_t kWriteSize = 1 << 20;
    const std::size_t per_write = std::max<std::size_t>(1, kWriteSize / block.size());
    std::string chunk;
    for (std::size_t i = 0; i < per_write; ++i) {
        chunk += block;
    }
    std::ofstream file(path, std::ios::binary);
    file << head;
    for (std::size_t written = 0; written < count; written += per_write) {
        const std::size_t copies = std::min(per_write, count - written);
        file.write(chunk.data(), static_cast<std::streamsize>(copies * block.size()));
    }
    file << tail;
}

// What a file looked like, to tell that the run left it alone: its size and
// modification time, and its contents when small enough to keep.
struct FileState {
    std::uintmax_t size = 0;
    fs::file_time_type modified;
    std::optional<std::string> contents;
    bool operator==(const FileState&) const = default;
};

std::map<fs::path, FileState> snapshot(const fs::path& folder) {
    constexpr std::uintmax_t kKeptSize = 1 << 20;
    std::map<fs::path, FileState> files;
    for (const auto& entry : fs::recursive_directory_iterator(
             folder, fs::directory_options::skip_permission_denied)) {
        if (!entry.is_regular_file() || entry.is_symlink()) {
            continue;
        }
        FileState state{entry.file_size(), entry.last_write_time(), std::nullopt};
        if (state.size <= kKeptSize) {
            std::ifstream in(entry.path(), std::ios::binary);
            state.contents.emplace(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        files.emplace(fs::relative(entry.path(), folder), std::move(state));
    }
    return files;
}

// The program's resident memory may not grow with its input: its fixed
// buffers, the history of up to 1,000,000 rows (32 MB) and the runtime fit
// well in this. The sanitizers' runtimes and shadow memory come on top.
#ifdef TERVALIN_PROGRAM_SANITIZED
constexpr long kMemoryBoundKib = 64 * 1024 + 64 * 1024;
#else
constexpr long kMemoryBoundKib = 64 * 1024;
#endif

bool running_as_root() { return geteuid() == 0; }

// Resident memory of this test process now, from /proc/self/status.
long own_rss_kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

// The child's peak resident memory as the runner reports it starts from this
// process's own at the fork (Linux carries it over exec), so this process
// hands freed memory back first and must itself be well below the bound for
// the measurement to say anything about the program.
ProgramRun run(const TempFolder& folder, const std::string& input) {
    malloc_trim(0);
    const long own = own_rss_kib();
    ::testing::Test::RecordProperty("test_process_rss_kib", std::to_string(own));
    EXPECT_LT(own, kMemoryBoundKib / 2) << "this test process is too large to measure the program";
    ProgramRun result = testing::run_program_in(TERVALIN_PROGRAM, folder.path(), input);
    ::testing::Test::RecordProperty("peak_rss_kib", std::to_string(result.peak_rss_kib));
    return result;
}

// `length` bytes of the file at `path` from `offset`, without reading the rest.
std::string read_part(const fs::path& path, std::uintmax_t offset, std::size_t length) {
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    std::string part(length, '\0');
    file.read(part.data(), static_cast<std::streamsize>(length));
    part.resize(static_cast<std::size_t>(file.gcount()));
    return part;
}

// ----------------------------------------------------------- the fault table

const std::string kLongName(100'000, 'n');

struct FaultCase {
    const char* name;
    std::function<void(const TempFolder&)> prepare;  // files beyond x.txt, d.txt, y.txt of 3 pairs
    std::string input;                               // standard input, then closed
    std::string console;                             // standard output after the banner
    std::string err;                                 // standard error
    int status;                                      // exit status
    std::optional<std::string> output;               // out.txt afterwards; none: never created
    bool needs_permissions = false;                  // moot as root: skipped there
};

void nothing(const TempFolder&) {}

std::vector<FaultCase> fault_cases() {
    const std::string three_rows = "0.0000000e+000  1.0000000e+002  1.0000000e+002  0.0000000e+000\n"
                                   "1.0000000e+000  1.0100000e+002  1.0100000e+002  0.0000000e+000\n"
                                   "2.0000000e+000  1.0200000e+002  1.0200000e+002  0.0000000e+000\n";
    const std::string three_rows_summary =
        summary({"     102", "     100", "     102", "     100", "     102", "     100", "     102",
                 "     102", "       0"});
    const std::string all_sevens = summary({"       7", "       7", "       7", "       7",
                                            "       7", "       7", "       7", "       7",
                                            "       0"});
    return {
        // name, prepare, standard input,
        //   console after the banner, standard error, exit status, out.txt, needs permissions
        {"ChannelIsAFolder", [](const TempFolder& f) { fs::create_directory(f.path() / "folder"); },
         "folder d.txt y.txt out.txt\n",  //
         kChannelQuestions + failed("folder"), "", kFailureStatus, std::nullopt},
        {"ChannelIsTheWorkingFolder", nothing, "x.txt d.txt . out.txt\n",
         kChannelQuestions + opened("x.txt") + opened("d.txt") + failed("."), "", kFailureStatus,
         std::nullopt},
        {"ChannelUnreadable",
         [](const TempFolder& f) { fs::permissions(f.path() / "d.txt", fs::perms::none); },
         "x.txt d.txt y.txt out.txt\n",  //
         kChannelQuestions + opened("x.txt") + failed("d.txt"), "", kFailureStatus, std::nullopt,
         true},
        {"ChannelOfNulBytes",
         [](const TempFolder& f) { write_repeated(f.path() / "x.txt", "", std::string(4096, '\0'), 256, "");
         },
         "x.txt d.txt y.txt out.txt\n",  //
         kChannelQuestions + kAllOpened + kOutputQuestion + kNoRowSummary + kClosing,
         not_used(1, "x.txt", kNotAPair), kNoConsoleStatus, ""},
        // "0." and 50 MB of digits: one number, its value decided by its first digits.
        {"FiftyMegabyteRunOfDigits",
         [](const TempFolder& f) {
             f.write("x.txt", "0 7\n");
             f.write("d.txt", "0 7\n");
             write_repeated(f.path() / "y.txt", "0.", "1234567890", 5'000'000, " 7\n");
         },
         "x.txt d.txt y.txt out.txt\n",  //
         kChannelQuestions + kAllOpened + kOutputQuestion + all_sevens + kClosing, "",
         kNoConsoleStatus,
         "1.2345679e-001  7.0000000e+000  7.0000000e+000  0.0000000e+000\n"},
        {"ChannelTruncatedInsideAPair",
         [](const TempFolder& f) { f.write("x.txt", pairs(3) + "3"); },
         "x.txt d.txt y.txt out.txt\n",  //
         kChannelQuestions + kAllOpened + kOutputQuestion + three_rows_summary + kClosing,
         not_used(4, "x.txt", kNotAPair), kNoConsoleStatus, three_rows},
        // Names of 100,000 characters are read to their end and dropped, not kept.
        {"ChannelNameOf100000Characters", nothing, kLongName + " d.txt y.txt out.txt\n",
         kChannelQuestions + failed_long(kLongName), "", kFailureStatus, std::nullopt},
        {"OutputNameOf100000Characters", nothing, "x.txt d.txt y.txt " + kLongName + "\n",
         kChannelQuestions + kAllOpened + kOutputQuestion + failed_long(kLongName), "",
         kFailureStatus, std::nullopt},
        // Standard input closed at each question: every later answer is empty.
        {"InputClosedBeforeTheFirstName", nothing, "",  //
         kChannelQuestions + failed(""), "", kFailureStatus, std::nullopt},
        {"InputClosedAfterOneName", nothing, "x.txt",  //
         kChannelQuestions + opened("x.txt") + failed(""), "", kFailureStatus, std::nullopt},
        {"InputClosedAfterTwoNames", nothing, "x.txt\nd.txt\n",
         kChannelQuestions + opened("x.txt") + opened("d.txt") + failed(""), "", kFailureStatus,
         std::nullopt},
        {"InputClosedAfterThreeNames", nothing, "x.txt d.txt y.txt",
         kChannelQuestions + kAllOpened + kOutputQuestion + failed(""), "", kFailureStatus,
         std::nullopt},
        {"OutputToAFullDevice", nothing, "x.txt d.txt y.txt /dev/full\n",
         kChannelQuestions + kAllOpened + kOutputQuestion + failed_write("/dev/full"), "",
         kFailureStatus, std::nullopt},
        // More rows than one write block holds: the first block's write fails.
        {"OutputToAFullDeviceManyRows",
         [](const TempFolder& f) {
             for (const char* name : {"x.txt", "d.txt", "y.txt"}) {
                 f.write(name, pairs(20'000));
             }
         },
         "x.txt d.txt y.txt /dev/full\n",
         kChannelQuestions + kAllOpened + kOutputQuestion + failed_write("/dev/full"), "",
         kFailureStatus, std::nullopt},
        {"OutputInAReadOnlyFolder",
         [](const TempFolder& f) {
             fs::create_directory(f.path() / "ro");
             fs::permissions(f.path() / "ro", fs::perms::owner_read | fs::perms::owner_exec);
         },
         "x.txt d.txt y.txt ro/out.txt\n",
         kChannelQuestions + kAllOpened + kOutputQuestion + failed("ro/out.txt"), "",
         kFailureStatus, std::nullopt, true},
        {"OutputIsALinkToAChannelInAnotherFolder",
         [](const TempFolder& f) {
             fs::create_directory(f.path() / "links");
             fs::create_symlink(f.path() / "x.txt", f.path() / "links" / "to-x");
         },
         "x.txt d.txt y.txt links/to-x\n",
         kChannelQuestions + kAllOpened + kOutputQuestion + output_is_channel("links/to-x"), "",
         kFailureStatus, std::nullopt},
        {"OutputIsAChainOfLinksToAChannel",
         [](const TempFolder& f) {
             fs::create_symlink("y.txt", f.path() / "first-link");
             fs::create_symlink("first-link", f.path() / "second-link");
         },
         "x.txt d.txt y.txt second-link\n",
         kChannelQuestions + kAllOpened + kOutputQuestion + output_is_channel("second-link"), "",
         kFailureStatus, std::nullopt},
    };
}

// Shown by GoogleTest (and ctest's listing) instead of the row's bytes.
void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class FaultTable : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultTable, ExactBehaviourBoundedMemoryNoChannelChanged) {
    const FaultCase& c = GetParam();
    if (c.needs_permissions && running_as_root()) {
        GTEST_SKIP() << "running as root, which file permissions do not stop";
    }
    TempFolder folder;
    write_channels(folder, 3);
    c.prepare(folder);
    const auto before = snapshot(folder.path());

    const ProgramRun result = run(folder, c.input);

    EXPECT_EQ(result.out, kIntro + c.console);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_LT(result.peak_rss_kib, kMemoryBoundKib);
    const fs::path output = folder.path() / "out.txt";
    if (c.output) {
        EXPECT_EQ(folder.read("out.txt"), *c.output);
        fs::remove(output);
    } else {
        EXPECT_FALSE(fs::exists(output));
    }
    EXPECT_TRUE(snapshot(folder.path()) == before) << "a channel file changed";
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTable, ::testing::ValuesIn(fault_cases()),
                         [](const ::testing::TestParamInfo<FaultCase>& row) {
                             return std::string(row.param.name);
                         });

// ------------------------------------------------------- pipes being written

// Writes `text` into the FIFO at `path` in pieces of 1 to 13 bytes with short
// pauses, as an acquisition system still recording would, then closes it.
// Gives up if no reader opens the FIFO before `stop` is set.
void feed_slowly(const fs::path& path, const std::string& text, const std::atomic<bool>& stop) {
    int fd = -1;
    while (fd < 0 && !stop) {
        // Non-blocking, so that a program that never opens the FIFO cannot hang the test.
        fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (fd < 0) {
        return;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::size_t piece = 1;
    for (std::size_t at = 0; at < text.size(); at += piece, piece = piece % 13 + 1) {
        const std::size_t length = std::min(piece, text.size() - at);
        if (write(fd, text.data() + at, length) != static_cast<ssize_t>(length)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    close(fd);
}

// Channels that are pipes fed in small pieces read exactly as regular files.
TEST(FaultsOfPipes, SlowlyFedFifosGiveTheRowsOfRegularFiles) {
    // Pieces cut through numbers, exponents and CRLF line ends.
    std::array<std::string, 3> texts;
    for (int i = 0; i < 200; ++i) {
        texts[0] += std::to_string(i) + ".005\t" + std::to_string(3 * i) + ".25e-1\r\n";
        texts[1] += std::to_string(i) + ".005 -" + std::to_string(i % 17) + ".5E+2\n";
        texts[2] += std::to_string(i) + ".005  " + std::to_string(7 * i) + "\n";
    }
    const std::array<const char*, 3> names{"x.txt", "d.txt", "y.txt"};
    const std::string input = "x.txt d.txt y.txt out.txt\n";

    TempFolder regular;
    for (std::size_t c = 0; c < names.size(); ++c) {
        regular.write(names[c], texts[c]);
    }
    const ProgramRun reference = run(regular, input);
    ASSERT_EQ(reference.exit_status, kNoConsoleStatus);
    ASSERT_EQ(reference.out.find(" Failed"), std::string::npos);
    ASSERT_FALSE(regular.read("out.txt").empty());

    TempFolder piped;
    for (const char* name : names) {
        ASSERT_EQ(mkfifo((piped.path() / name).c_str(), 0600), 0);
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (std::size_t c = 0; c < names.size(); ++c) {
        writers.emplace_back(feed_slowly, piped.path() / names[c], std::cref(texts[c]),
                             std::cref(stop));
    }
    const ProgramRun result = run(piped, input);
    stop = true;
    for (std::thread& writer : writers) {
        writer.join();
    }

    EXPECT_EQ(result.out, reference.out);
    EXPECT_EQ(result.err, reference.err);
    EXPECT_EQ(result.exit_status, reference.exit_status);
    EXPECT_EQ(piped.read("out.txt"), regular.read("out.txt"));
    EXPECT_LT(result.peak_rss_kib, kMemoryBoundKib);
}

// ------------------------------------------------------ one endless line

// 200 MB without a line end: 1,000,001 pairs, each padded with blanks and tabs
// to 200 bytes. Named as all three channels, it fills the history to its
// limit; the pair past it is reported, and memory stays that of the history.
TEST(FaultsOfSize, TwoHundredMegabytesWithoutLineEnds) {
    constexpr std::size_t kRecord = 200;
    constexpr std::size_t kPairs = 1'000'001;
    TempFolder folder;
    const fs::path big = folder.path() / "big.txt";
    {
        // Records built in place in one reused buffer: a million small strings
        // would sit in a sanitizer's quarantine and inflate this process.
        constexpr std::size_t kRecordsPerWrite = 5000;
        std::vector<char> chunk(kRecordsPerWrite * kRecord);
        std::ofstream file(big, std::ios::binary);
        for (std::size_t first = 0; first < kPairs; first += kRecordsPerWrite) {
            const std::size_t records = std::min(kRecordsPerWrite, kPairs - first);
            for (std::size_t r = 0; r < records; ++r) {
                char* record = chunk.data() + r * kRecord;
                std::memset(record, (first + r) % 2 == 0 ? ' ' : '\t', kRecord);
                char* end = std::to_chars(record, record + kRecord, first + r).ptr;
                std::memcpy(end, " 5", 2);
                record[kRecord - 1] = ' ';
            }
            file.write(chunk.data(), static_cast<std::streamsize>(records * kRecord));
        }
    }
    ASSERT_EQ(fs::file_size(big), kRecord * kPairs);
    const auto before = snapshot(folder.path());

    const ProgramRun result = run(folder, "big.txt big.txt big.txt out.txt\n");

    const std::string fives = summary({"       5", "       5", "       5", "       5", "       5",
                                       "       5", "       5", "       5", "       0"});
    EXPECT_EQ(result.out, kIntro + kChannelQuestions + opened("big.txt") + opened("big.txt") +
                              opened("big.txt") + kOutputQuestion + fives + kClosing);
    EXPECT_EQ(result.err, not_used(1'000'001, "big.txt", kRowLimit));
    EXPECT_EQ(result.exit_status, kNoConsoleStatus);
    EXPECT_LT(result.peak_rss_kib, kMemoryBoundKib);

    // One line of four 14-character fields per row: time i, e1 = e2 = 5, shear 0.
    const fs::path out = folder.path() / "out.txt";
    constexpr std::size_t kLine = 4 * 14 + 3 * 2 + 1;
    ASSERT_EQ(fs::file_size(out), 1'000'000 * kLine);
    EXPECT_EQ(read_part(out, 0, 2 * kLine),
              "0.0000000e+000  5.0000000e+000  5.0000000e+000  0.0000000e+000\n"
              "1.0000000e+000  5.0000000e+000  5.0000000e+000  0.0000000e+000\n");
    EXPECT_EQ(read_part(out, 123'456 * kLine, kLine),
              "1.2345600e+005  5.0000000e+000  5.0000000e+000  0.0000000e+000\n");
    EXPECT_EQ(read_part(out, 999'999 * kLine, kLine + 1),
              "9.9999900e+005  5.0000000e+000  5.0000000e+000  0.0000000e+000\n");
    fs::remove(folder.path() / "out.txt");
    EXPECT_TRUE(snapshot(folder.path()) == before) << "the channel file changed";
}

}  // namespace
}  // namespace tervalin
