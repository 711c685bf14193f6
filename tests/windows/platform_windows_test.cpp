// The Windows platform code through the interface the run driver uses, on
// files in a temporary folder.
#include "platform.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace tervalin {
namespace {

namespace fs = std::filesystem;

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = fs::temp_directory_path() / (std::string("tervalin_") + test->name() + "_" +
                                               std::to_string(GetCurrentProcessId()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    [[nodiscard]] std::string path(const std::string& name) const {
        return (folder_ / name).string();
    }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(folder_ / name, std::ios::binary) << bytes;
    }
    [[nodiscard]] std::string read(const std::string& name) const {
        std::ifstream file(folder_ / name, std::ios::binary);
        std::ostringstream contents;
        contents << file.rdbuf();
        return contents.str();
    }

private:
    fs::path folder_;
};

std::string read_all(std::FILE* file) {
    std::string text;
    char block[256];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;) {
        text.append(block, got);
    }
    return text;
}

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

TEST_F(PlatformTest, ChannelFileGivesItsBytesUnchanged) {
    // CR LF stays CR LF and a Ctrl-Z ends nothing, as a text-mode stream would.
    const std::string bytes = "0.0 1.0\r\n\x1a" "0.5 2.0\n1.0 3.0";
    write("x.txt", bytes);
    const File file(platform::open_channel_file(path("x.txt").c_str()));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(read_all(file.get()), bytes);
}

TEST_F(PlatformTest, MissingChannelFileAndFolderAreRefused) {
    fs::create_directory(path("folder"));
    EXPECT_EQ(platform::open_channel_file(path("missing.txt").c_str()), nullptr);
    EXPECT_EQ(platform::open_channel_file(path("folder").c_str()), nullptr);
}

TEST_F(PlatformTest, SameFileThroughAnySpellingOrHardLink) {
    write("d.txt", "1 2\n");
    write("other.txt", "1 2\n");
    ASSERT_NE(CreateHardLinkA(path("hard.txt").c_str(), path("d.txt").c_str(), nullptr), 0);
    const File file(platform::open_channel_file(path("d.txt").c_str()));
    ASSERT_NE(file, nullptr);
    for (const std::string& name : {path("d.txt"), path("D.TXT"), path("hard.txt"),
                                    path("folder\\..\\d.txt"), path(".\\d.txt")}) {
        EXPECT_TRUE(platform::is_same_file(file.get(), name.c_str())) << name;
    }
    fs::create_directory(path("folder"));
    for (const std::string& name : {path("other.txt"), path("missing.txt"), path("folder")}) {
        EXPECT_FALSE(platform::is_same_file(file.get(), name.c_str())) << name;
    }
}

TEST_F(PlatformTest, OutputFileEndsLinesWithCrLfAndReplacesOldContents) {
    write("out.txt", "old contents that must go, all of them\n");
    {
        const File file(platform::create_output_file(path("out.txt").c_str()));
        ASSERT_NE(file, nullptr);
        const std::string lines = "1  2\n3  4\n";
        ASSERT_EQ(std::fwrite(lines.data(), 1, lines.size(), file.get()), lines.size());
    }
    EXPECT_EQ(read("out.txt"), "1  2\r\n3  4\r\n");
}

TEST_F(PlatformTest, OutputFileInMissingFolderOrOnFolderFails) {
    fs::create_directory(path("folder"));
    EXPECT_EQ(platform::create_output_file(path("nowhere\\out.txt").c_str()), nullptr);
    EXPECT_EQ(platform::create_output_file(path("folder").c_str()), nullptr);
}

// run_windows_tests.sh starts this test with no console, as CI has none.
TEST(KeyWait, WithoutConsoleEndsAtOnce) {
    EXPECT_EQ(platform::wait_for_key(), -1);
}

}  // namespace
}  // namespace tervalin
