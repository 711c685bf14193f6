// The real program, run as a separate process on files in a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "console_texts.hpp"
#include "program_runner.hpp"

namespace tervalin {
namespace {

namespace fs = std::filesystem;
using namespace testing;  // the runner and the console texts

// With no row read, the seeds of the extremes and zero peaks.
const std::string kNoRowSummary =
    "\n\n Strain Summary \n"
    "\n X-axis: max=  -1e+090  min=   1e+090"
    "\n 45 deg: max=  -1e+090  min=   1e+090"
    "\n Y-axis: max=  -1e+090  min=   1e+090\n"
    "\n max e1    =        0 "
    "\n max e2    =        0 "
    "\n max shear =        0 \n";

std::string read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

ProgramRun run(const TempFolder& folder, const std::string& input) {
    return testing::run_program_in(TERVALIN_PROGRAM, folder.path(), input);
}

std::string pairs(int count) { return equal_channel_pairs(count); }
void write_channels(const TempFolder& folder, int rows) { write_equal_channels(folder, rows); }

TEST(EndToEnd, ExampleRunGivesTheReferenceFileAndSummary) {
    TempFolder folder;
    for (const char* name : {"rosette_x.txt", "rosette_45.txt", "rosette_y.txt"}) {
        fs::copy_file(fs::path(TERVALIN_EXAMPLES) / name, folder.path() / name);
    }
    // Three names typed on one line answer all three channel questions.
    const ProgramRun result =
        run(folder, "rosette_x.txt rosette_45.txt rosette_y.txt\nstrains.txt\n");
    const std::string summary = read_file(fs::path(TERVALIN_EXAMPLES) / "expected_summary.txt");
    ASSERT_FALSE(summary.empty());
    EXPECT_EQ(result.out, kIntro + kChannelQuestions + opened("rosette_x.txt") +
                              opened("rosette_45.txt") + opened("rosette_y.txt") +
                              kOutputQuestion + summary + kClosing);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_status, kNoConsoleStatus);
    EXPECT_EQ(folder.read("strains.txt"),
              read_file(fs::path(TERVALIN_EXAMPLES) / "expected_principal_strains.txt"));
}

TEST(EndToEnd, RunWithNoRowEmptiesTheOutputAndShowsTheSeeds) {
    TempFolder folder;
    folder.write("x.txt", "");
    folder.write("d.txt", "\n");
    folder.write("y.txt", "   ");
    folder.write("out.txt", "old contents that must go\n");
    const ProgramRun result = run(folder, "x.txt d.txt y.txt out.txt\n");
    EXPECT_EQ(result.out, kIntro + kChannelQuestions + opened("x.txt") + opened("d.txt") +
                              opened("y.txt") + kOutputQuestion + kNoRowSummary + kClosing);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_status, kNoConsoleStatus);
    ASSERT_TRUE(fs::exists(folder.path() / "out.txt"));
    EXPECT_EQ(fs::file_size(folder.path() / "out.txt"), 0u);
}

struct FailureCase {
    const char* what;
    std::string input;
    std::string expected_after_intro;
};

// Every way the dialogue can fail: the exact console text, exit status 1 and
// no principal strain file left behind.
TEST(EndToEnd, DialogueFailures) {
    // The first 259 characters of the over-long name name a real channel file,
    // which a program that cut the name would open, or empty.
    const std::string cut_name = std::string(100, 'a') + "/" + std::string(158, 'b');
    const std::string long_name = cut_name + "ccc";
    const std::string long_shown = cut_name + "...";
    const std::string all_opened = opened("x.txt") + opened("d.txt") + opened("y.txt");
    const FailureCase cases[] = {
        // what, standard input, console text after the banner and instructions
        {"45 degree file missing", "x.txt\nmissing.txt\ny.txt\nout.txt\n",
         kChannelQuestions + opened("x.txt") + failed("missing.txt")},
        {"input ends at once", "", kChannelQuestions + failed("")},
        {"a blank splits a name", "x.txt d.txt\nnone.txt\nout.txt\n",
         kChannelQuestions + opened("x.txt") + opened("d.txt") + failed("none.txt")},
        {"channel is a folder", "x.txt folder y.txt out.txt\n",
         kChannelQuestions + opened("x.txt") + failed("folder")},
        {"over-long channel name", "x.txt " + long_name + " y.txt out.txt\n",
         kChannelQuestions + opened("x.txt") + failed(long_shown)},
        {"over-long output name", "x.txt d.txt y.txt " + long_name + "\n",
         kChannelQuestions + all_opened + kOutputQuestion + failed(long_shown)},
        {"output in a missing folder", "x.txt d.txt y.txt nowhere/out.txt\n",
         kChannelQuestions + all_opened + kOutputQuestion + failed("nowhere/out.txt")},
        {"output is a folder", "x.txt d.txt y.txt folder\n",
         kChannelQuestions + all_opened + kOutputQuestion + failed("folder")},
        {"no output name", "x.txt d.txt y.txt",
         kChannelQuestions + all_opened + kOutputQuestion + failed("")},
    };
    for (const FailureCase& c : cases) {
        TempFolder folder;
        write_channels(folder, 3);
        fs::create_directory(folder.path() / "folder");
        fs::create_directory(folder.path() / std::string(100, 'a'));
        folder.write(cut_name, pairs(3));
        const ProgramRun result = run(folder, c.input);
        EXPECT_EQ(result.out, kIntro + c.expected_after_intro) << c.what;
        EXPECT_EQ(result.exit_status, 1) << c.what;
        EXPECT_EQ(result.err, "") << c.what;
        EXPECT_FALSE(fs::exists(folder.path() / "out.txt")) << c.what;
        EXPECT_EQ(folder.read(cut_name), pairs(3)) << c.what;
    }
}

// Creating the output would empty a channel file: refused, however it is named.
TEST(EndToEnd, OutputThatIsAChannelFileIsRefused) {
    for (const std::string output : {"d.txt", "./d.txt", "link.txt", "hard.txt"}) {
        TempFolder folder;
        write_channels(folder, 3);
        fs::create_symlink("d.txt", folder.path() / "link.txt");
        fs::create_hard_link(folder.path() / "d.txt", folder.path() / "hard.txt");
        const ProgramRun result = run(folder, "x.txt d.txt y.txt " + output + "\n");
        EXPECT_EQ(result.out, kIntro + kChannelQuestions + opened("x.txt") + opened("d.txt") +
                                  opened("y.txt") + kOutputQuestion +
                                  " Output file is one of the channel files: " + output + " \n")
            << output;
        EXPECT_EQ(result.exit_status, 1) << output;
        EXPECT_EQ(folder.read("d.txt"), pairs(3)) << output;
    }
}

// Data that no kept row used is named on standard error; the console text
// and exit status stay those of an ordinary run.
TEST(EndToEnd, UnusedDataIsReportedOnStandardError) {
    struct Case {
        const char* what;
        std::string x, d, y;
        std::string err;
    } const cases[] = {
        {"every number used", pairs(4), pairs(4), pairs(4) + "\r\n\r\n", ""},
        {"files of 10, 12 and 11 pairs", pairs(10), pairs(12), pairs(11),
         "tervalin: data from row 11 of d.txt was not used: another channel file ended before "
         "it\n"},
        {"header line", "time strain\n" + pairs(3), pairs(3), pairs(3),
         "tervalin: data from row 1 of x.txt was not used: it is not a time and strain pair\n"},
        {"time without a strain", pairs(3), pairs(3), pairs(2) + "7\n",
         "tervalin: data from row 3 of y.txt was not used: it is not a time and strain pair\n"},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        folder.write("x.txt", c.x);
        folder.write("d.txt", c.d);
        folder.write("y.txt", c.y);
        const ProgramRun result = run(folder, "x.txt d.txt y.txt out.txt\n");
        EXPECT_EQ(result.err, c.err) << c.what;
        EXPECT_EQ(result.exit_status, kNoConsoleStatus) << c.what;
        EXPECT_TRUE(result.out.ends_with(kClosing)) << c.what;
    }
}

TEST(EndToEnd, RowsPastTheMillionthAreNeitherReadNorWritten) {
    TempFolder folder;
    write_channels(folder, 1'000'003);
    const ProgramRun result = run(folder, "x.txt d.txt y.txt out.txt\n");
    EXPECT_EQ(result.exit_status, kNoConsoleStatus);
    EXPECT_EQ(result.err,
              "tervalin: data from row 1000001 of x.txt was not used: the limit of 1000000 rows "
              "was reached\n");
    const std::string file = folder.read("out.txt");
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 1'000'000);
    // The last line is row 999,999: time 999999, strains 1000099 on every gauge.
    EXPECT_TRUE(file.ends_with(
        "9.9999900e+005  1.0000990e+006  1.0000990e+006  0.0000000e+000\n"));
}

// A full disk is reported, never passed off as a finished run.
TEST(EndToEnd, WriteFailureIsReportedWithStatusOne) {
    TempFolder folder;
    write_channels(folder, 5000);
    const ProgramRun result = run(folder, "x.txt d.txt y.txt /dev/full\n");
    EXPECT_EQ(result.out, kIntro + kChannelQuestions + opened("x.txt") + opened("d.txt") +
                              opened("y.txt") + kOutputQuestion +
                              " Failed to write file: /dev/full \n");
    EXPECT_EQ(result.exit_status, 1);
}

}  // namespace
}  // namespace tervalin
