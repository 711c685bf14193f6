// Runs the built program as a separate process: in a folder of its own, with
// standard input, output and error on pipes and no controlling terminal, so
// the final key wait returns at once instead of waiting at a keyboard.
#pragma once

#include <filesystem>
#include <string>

namespace tervalin::testing {

struct ProgramRun {
    std::string out;           // everything written to standard output
    std::string err;           // everything written to standard error
    int exit_status = -1;      // 0-255, or -1 when ended by a signal or the time limit
    // Peak resident memory of the process. Linux counts the test process's own
    // memory at the fork in it too: free large buffers before a run that
    // checks this figure.
    long peak_rss_kib = 0;
};

// Starts `program` in `folder`, feeds it `input` and then closes its standard
// input, collects its output until it ends; kills it after `seconds`.
ProgramRun run_program_in(const std::filesystem::path& program, const std::filesystem::path& folder,
                          const std::string& input, int seconds = 60);

// A fresh folder under the system's temporary folder, removed with its contents.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
    // Writes `contents` to the file `name` in the folder and returns its path.
    std::filesystem::path write(const std::string& name, const std::string& contents) const;
    // The whole contents of the file `name` in the folder.
    [[nodiscard]] std::string read(const std::string& name) const;

private:
    std::filesystem::path path_;
};

// Pairs "i 100+i" for i = 0 .. count - 1, one a line: with every channel the
// same, each row has e1 = e2 = its strain and zero shear.
std::string equal_channel_pairs(int count);

// Channel files x.txt, d.txt and y.txt of `rows` such pairs each in `folder`.
void write_equal_channels(const TempFolder& folder, int rows);

}  // namespace tervalin::testing
