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
    long peak_rss_kib = 0;     // peak resident memory of the process
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

}  // namespace tervalin::testing
