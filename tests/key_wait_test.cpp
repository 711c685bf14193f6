// The final key read, driven through a pseudo-terminal: key_wait_probe runs
// with the pty as its controlling terminal, this test types on the other side
// and reads the key back from the probe's exit status. The probe never shares
// a session with the terminal the tests run from, and every wait has a time
// limit after which the probe is killed, so no test can wait at a real keyboard.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#if __has_include(<pty.h>)
#include <pty.h>  // Linux
#else
#include <util.h>  // macOS and the BSDs
#endif

#ifndef KEY_WAIT_PROBE_PATH
#error "KEY_WAIT_PROBE_PATH must name the key_wait_probe executable"
#endif

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kProbePath = KEY_WAIT_PROBE_PATH;
constexpr auto kTimeLimit = 5s;
constexpr auto kPollInterval = 2ms;

class Pty {
public:
    Pty() noexcept { ::openpty(&master_, &slave_, nullptr, nullptr, nullptr); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    ~Pty() {
        close_master();
        if (slave_ >= 0) {
            ::close(slave_);
        }
    }

    [[nodiscard]] bool is_open() const noexcept { return master_ >= 0 && slave_ >= 0; }
    [[nodiscard]] int master() const noexcept { return master_; }
    [[nodiscard]] int slave() const noexcept { return slave_; }
    void close_master() noexcept {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    // The slave stays open here, so its settings can still be read once the
    // probe has exited.
    [[nodiscard]] std::optional<termios> mode() const noexcept {
        termios mode{};
        if (::tcgetattr(slave_, &mode) != 0) {
            return std::nullopt;
        }
        return mode;
    }

    [[nodiscard]] bool type(std::string_view bytes) const noexcept {
        while (!bytes.empty()) {
            const ssize_t written = ::write(master_, bytes.data(), bytes.size());
            if (written <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
        return true;
    }

    // True once `count` bytes of terminal output (such as an echo) have come
    // through, which shows the terminal has taken in what was typed before it.
    [[nodiscard]] bool read_output(std::size_t count) const noexcept {
        const Clock::time_point deadline = Clock::now() + kTimeLimit;
        while (count > 0 && Clock::now() < deadline) {
            pollfd entry{master_, POLLIN, 0};
            char buffer[64];
            if (::poll(&entry, 1, 10) == 1) {
                const ssize_t got = ::read(master_, buffer, std::min(count, sizeof buffer));
                if (got <= 0) {
                    return false;
                }
                count -= static_cast<std::size_t>(got);
            }
        }
        return count == 0;
    }

private:
    int master_ = -1;
    int slave_ = -1;
};

// A started probe; killed and reaped when the test is done with it, whatever
// happened, so a failed check never leaves it running.
class Probe {
public:
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;
    ~Probe() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    // In a new session whose controlling terminal is the pty's slave. Standard
    // input comes from /dev/null when asked, to show the key is read from the
    // terminal itself.
    static Probe start_on(const Pty& pty, bool null_input = false,
                          const char* program = kProbePath,
                          const char* input_file = nullptr) noexcept {
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Only async-signal-safe calls between fork and exec.
            ::close(pty.master());
            if (::setsid() < 0 || ::ioctl(pty.slave(), TIOCSCTTY, 0) < 0) {
                ::_exit(126);
            }
            ::dup2(pty.slave(), STDIN_FILENO);
            ::dup2(pty.slave(), STDOUT_FILENO);
            ::dup2(pty.slave(), STDERR_FILENO);
            if (pty.slave() > STDERR_FILENO) {
                ::close(pty.slave());
            }
            if (null_input) {
                redirect_input_from_null();
            }
            if (input_file != nullptr) {
                redirect_input_from(input_file);
            }
            exec_program(program);
        }
        return Probe{pid};
    }

    // In a new session without any terminal at all.
    static Probe start_without_terminal() noexcept {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::setsid() < 0) {
                ::_exit(126);
            }
            redirect_input_from_null();
            exec_probe();
        }
        return Probe{pid};
    }

    [[nodiscard]] bool started() const noexcept { return pid_ > 0; }
    void send(int signal_number) const noexcept { ::kill(pid_, signal_number); }

    // Waits until the probe has put its terminal in raw mode, that is until
    // it is waiting for the key; false if it ended or the time ran out first.
    [[nodiscard]] bool wait_until_raw(const Pty& pty) const noexcept {
        const Clock::time_point deadline = Clock::now() + kTimeLimit;
        while (Clock::now() < deadline && !has_ended()) {
            const std::optional<termios> mode = pty.mode();
            if (mode && (mode->c_lflag & ICANON) == 0) {
                return true;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
        return false;
    }

    // The wait status, or nothing if the probe had to be killed for taking
    // longer than `limit`.
    [[nodiscard]] std::optional<int> wait_for_exit(Clock::duration limit = kTimeLimit) noexcept {
        const Clock::time_point deadline = Clock::now() + limit;
        for (;;) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            if (Clock::now() >= deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                pid_ = -1;
                return std::nullopt;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
    }

private:
    explicit Probe(pid_t pid) noexcept : pid_(pid) {}

    [[nodiscard]] bool has_ended() const noexcept {
        siginfo_t info{};
        // WNOWAIT leaves the status for wait_for_exit.
        return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == pid_;
    }

    static void redirect_input_from_null() noexcept { redirect_input_from("/dev/null"); }

    static void redirect_input_from(const char* path) noexcept {
        const int input = ::open(path, O_RDONLY);
        if (input >= 0) {
            ::dup2(input, STDIN_FILENO);
            if (input != STDIN_FILENO) {
                ::close(input);
            }
        }
    }

    [[noreturn]] static void exec_probe() noexcept { exec_program(kProbePath); }

    [[noreturn]] static void exec_program(const char* program) noexcept {
        char* const arguments[] = {const_cast<char*>(program), nullptr};
        ::execv(program, arguments);
        ::_exit(127);
    }

    pid_t pid_;
};

std::string describe(std::optional<int> status) {
    if (!status) {
        return "still waiting after " + std::to_string(kTimeLimit.count()) + " s (killed)";
    }
    if (WIFEXITED(*status)) {
        const int code = WEXITSTATUS(*status);
        return "exited with " + std::to_string(code) +
               (code == 127 ? " (could not run the probe)" : code == 126 ? " (no pty)" : "");
    }
    if (WIFSIGNALED(*status)) {
        return "ended by signal " + std::to_string(WTERMSIG(*status));
    }
    return "wait status " + std::to_string(*status);
}

testing::AssertionResult exited_with(std::optional<int> status, int code) {
    if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == code) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "expected exit status " << code << ", " << describe(status);
}

testing::AssertionResult ended_by(std::optional<int> status, int signal_number) {
    if (status && WIFSIGNALED(*status) && WTERMSIG(*status) == signal_number) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "expected signal " << signal_number << ", "
                                       << describe(status);
}

// The flags raw mode changes, and the read timing it sets.
testing::AssertionResult same_mode(const std::optional<termios>& before,
                                   const std::optional<termios>& after) {
    if (!before || !after) {
        return testing::AssertionFailure() << "terminal settings could not be read";
    }
    if (before->c_lflag != after->c_lflag || before->c_iflag != after->c_iflag ||
        before->c_cc[VMIN] != after->c_cc[VMIN] || before->c_cc[VTIME] != after->c_cc[VTIME]) {
        return testing::AssertionFailure()
               << std::hex << "c_lflag " << before->c_lflag << " -> " << after->c_lflag
               << ", c_iflag " << before->c_iflag << " -> " << after->c_iflag << std::dec
               << ", VMIN " << +before->c_cc[VMIN] << " -> " << +after->c_cc[VMIN] << ", VTIME "
               << +before->c_cc[VTIME] << " -> " << +after->c_cc[VTIME];
    }
    return testing::AssertionSuccess();
}

struct KeyCase {
    const char* name;
    std::string_view typed;
    int code;
};

void PrintTo(const KeyCase& key, std::ostream* out) { *out << key.name; }

class KeyWait : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyWait, ReturnsTheKeyCodeAndRestoresTheTerminal) {
    const KeyCase& key = GetParam();
    Pty pty;
    ASSERT_TRUE(pty.is_open());
    const std::optional<termios> before = pty.mode();
    Probe probe = Probe::start_on(pty);
    ASSERT_TRUE(probe.started());
    ASSERT_TRUE(probe.wait_until_raw(pty)) << "the probe never waited for a key";
    ASSERT_TRUE(pty.type(key.typed));
    EXPECT_TRUE(exited_with(probe.wait_for_exit(), key.code));
    EXPECT_TRUE(same_mode(before, pty.mode()));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyWait,
    testing::Values(KeyCase{"Letter", "q", 113},
                    KeyCase{"Enter", "\r", 13},
                    KeyCase{"CtrlC", "\x03", 3},
                    KeyCase{"Utf8FirstByte", "\xc3\xa9", 0xC3},  // é
                    KeyCase{"LoneEscape", "\x1b", 27},
                    KeyCase{"Up", "\x1b[A", 224},
                    KeyCase{"Home", "\x1b[H", 224},
                    KeyCase{"EndApplicationMode", "\x1bOF", 224},
                    KeyCase{"Delete", "\x1b[3~", 224},
                    KeyCase{"PageDown", "\x1b[6~", 224},
                    KeyCase{"HomeRxvt", "\x1b[7~", 224},
                    KeyCase{"CtrlRight", "\x1b[1;5C", 224},
                    KeyCase{"CtrlDelete", "\x1b[3;5~", 224},
                    KeyCase{"F1", "\x1bOP", 0},
                    KeyCase{"F1Rxvt", "\x1b[11~", 0},
                    KeyCase{"F1Linux", "\x1b[[A", 0},
                    KeyCase{"F5Linux", "\x1b[[E", 0},
                    KeyCase{"F12", "\x1b[24~", 0},
                    KeyCase{"ShiftF1", "\x1b[1;2P", 0},
                    KeyCase{"AltUpRxvt", "\x1b\x1b[A", 224},
                    KeyCase{"AltLetterIsEscape", "\x1bx", 27},
                    KeyCase{"UnknownSequenceIsEscape", "\x1b[99~", 27}),
    [](const testing::TestParamInfo<KeyCase>& key) { return std::string(key.param.name); });

// The whole program: names piped in, the principal strain file written, and
// the key pressed at the closing prompt becomes the exit status.
TEST(KeyWaitTerminal, TheProgramExitsWithTheCodeOfTheKeyPressed) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tervalin-key-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path examples = TERVALIN_EXAMPLES;
    const std::filesystem::path output = folder / "strains.txt";
    {
        std::ofstream names(folder / "names.txt");
        names << (examples / "rosette_x.txt").string() << ' '
              << (examples / "rosette_45.txt").string() << ' '
              << (examples / "rosette_y.txt").string() << ' ' << output.string() << '\n';
    }
    Pty pty;
    ASSERT_TRUE(pty.is_open());
    const std::string names = (folder / "names.txt").string();
    Probe program = Probe::start_on(pty, false, TERVALIN_PROGRAM, names.c_str());
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.wait_until_raw(pty)) << "the program never waited for a key";
    ASSERT_TRUE(pty.type("q"));
    EXPECT_TRUE(exited_with(program.wait_for_exit(), 113));
    EXPECT_TRUE(std::filesystem::file_size(output) > 0);
    std::filesystem::remove_all(folder);
}

TEST(KeyWaitTerminal, ReadsTheTerminalNotRedirectedStandardInput) {
    Pty pty;
    ASSERT_TRUE(pty.is_open());
    Probe probe = Probe::start_on(pty, /*null_input=*/true);
    ASSERT_TRUE(probe.started());
    ASSERT_TRUE(probe.wait_until_raw(pty)) << "the probe never waited for a key";
    ASSERT_TRUE(pty.type("k"));
    EXPECT_TRUE(exited_with(probe.wait_for_exit(), 'k'));
}

// A key pressed while the program was still working must not answer a prompt
// the user has not seen yet.
TEST(KeyWaitTerminal, IgnoresKeysTypedBeforeTheWait) {
    Pty pty;
    ASSERT_TRUE(pty.is_open());
    ASSERT_TRUE(pty.type("x"));
    ASSERT_TRUE(pty.read_output(1)) << "the typed key was never echoed";
    Probe probe = Probe::start_on(pty);
    ASSERT_TRUE(probe.started());
    ASSERT_TRUE(probe.wait_until_raw(pty)) << "the probe never waited for a key";
    ASSERT_TRUE(pty.type("q"));
    EXPECT_TRUE(exited_with(probe.wait_for_exit(), 'q'));
}

class KeyWaitSignal : public testing::TestWithParam<int> {};

TEST_P(KeyWaitSignal, EndsTheProcessWithTheTerminalRestored) {
    const int signal_number = GetParam();
    Pty pty;
    ASSERT_TRUE(pty.is_open());
    const std::optional<termios> before = pty.mode();
    Probe probe = Probe::start_on(pty);
    ASSERT_TRUE(probe.started());
    ASSERT_TRUE(probe.wait_until_raw(pty)) << "the probe never waited for a key";
    probe.send(signal_number);
    EXPECT_TRUE(ended_by(probe.wait_for_exit(), signal_number));
    EXPECT_TRUE(same_mode(before, pty.mode()));
}

INSTANTIATE_TEST_SUITE_P(Signals, KeyWaitSignal, testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const testing::TestParamInfo<int>& signal_case) {
                             switch (signal_case.param) {
                             case SIGTERM: return std::string("Sigterm");
                             case SIGINT: return std::string("Sigint");
                             default: return std::string("Sighup");
                             }
                         });

TEST(KeyWaitTerminal, ReturnsMinusOneAtOnceWithoutATerminal) {
    const Clock::time_point start = Clock::now();
    Probe probe = Probe::start_without_terminal();
    ASSERT_TRUE(probe.started());
    EXPECT_TRUE(exited_with(probe.wait_for_exit(), 255));
    EXPECT_LT(Clock::now() - start, 2s);
}

// The terminal going away (its window closed) ends the wait, through SIGHUP
// or through the read failing; either way the program must not hang.
TEST(KeyWaitTerminal, EndsWhenTheTerminalHangsUp) {
    Pty pty;
    ASSERT_TRUE(pty.is_open());
    Probe probe = Probe::start_on(pty);
    ASSERT_TRUE(probe.started());
    ASSERT_TRUE(probe.wait_until_raw(pty)) << "the probe never waited for a key";
    pty.close_master();
    const std::optional<int> status = probe.wait_for_exit();
    EXPECT_TRUE(ended_by(status, SIGHUP) || exited_with(status, 255)) << describe(status);
}

}  // namespace
