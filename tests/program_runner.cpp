#include "program_runner.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tervalin::testing {
namespace {

struct Pipe {
    int read_end = -1;
    int write_end = -1;
};

Pipe make_pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    return {fds[0], fds[1]};
}

[[noreturn]] void exec_child(const std::filesystem::path& program,
                             const std::filesystem::path& folder, const Pipe& in, const Pipe& out,
                             const Pipe& err) {
    setsid();  // no controlling terminal: /dev/tty cannot be opened
    dup2(in.read_end, STDIN_FILENO);
    dup2(out.write_end, STDOUT_FILENO);
    dup2(err.write_end, STDERR_FILENO);
    if (chdir(folder.c_str()) != 0) {
        _exit(127);
    }
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
}

}  // namespace

ProgramRun run_program_in(const std::filesystem::path& program, const std::filesystem::path& folder,
                          const std::string& input, int seconds) {
    signal(SIGPIPE, SIG_IGN);  // the program may end before it has read all input
    const Pipe in = make_pipe();
    const Pipe out = make_pipe();
    const Pipe err = make_pipe();
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        exec_child(program, folder, in, out, err);
    }
    close(in.read_end);
    close(out.write_end);
    close(err.write_end);
    fcntl(in.write_end, F_SETFL, O_NONBLOCK);

    ProgramRun run;
    std::size_t written = 0;
    int to_child = in.write_end;
    if (input.empty()) {
        close(to_child);
        to_child = -1;
    }
    std::array<pollfd, 3> fds{};
    bool out_open = true;
    bool err_open = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool timed_out = false;
    while (out_open || err_open) {
        if (std::chrono::steady_clock::now() > deadline) {
            timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        fds[0] = {out_open ? out.read_end : -1, POLLIN, 0};
        fds[1] = {err_open ? err.read_end : -1, POLLIN, 0};
        fds[2] = {to_child, POLLOUT, 0};
        if (poll(fds.data(), fds.size(), 100) < 0 && errno != EINTR) {
            break;
        }
        char chunk[65536];
        for (int i = 0; i < 2; ++i) {
            if (fds[static_cast<std::size_t>(i)].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = read(fds[static_cast<std::size_t>(i)].fd, chunk, sizeof chunk);
                if (n > 0) {
                    (i == 0 ? run.out : run.err).append(chunk, static_cast<std::size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    (i == 0 ? out_open : err_open) = false;
                }
            }
        }
        if (to_child >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = write(to_child, input.data() + written, input.size() - written);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
            }
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) {
                close(to_child);
                to_child = -1;
            }
        }
    }
    if (to_child >= 0) {
        close(to_child);
    }
    close(out.read_end);
    close(err.read_end);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.peak_rss_kib = usage.ru_maxrss;
    run.exit_status = !timed_out && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tervalin-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempFolder::write(const std::string& name, const std::string& contents) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream(file, std::ios::binary) << contents;
    return file;
}

std::string TempFolder::read(const std::string& name) const {
    std::ifstream file(path_ / name, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

std::string equal_channel_pairs(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += std::to_string(i) + " " + std::to_string(100 + i) + "\n";
    }
    return text;
}

void write_equal_channels(const TempFolder& folder, int rows) {
    const std::string pairs = equal_channel_pairs(rows);
    folder.write("x.txt", pairs);
    folder.write("d.txt", pairs);
    folder.write("y.txt", pairs);
}

}  // namespace tervalin::testing
