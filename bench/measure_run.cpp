// Runs one command and prints its wall time and peak resident memory, so the
// end-to-end script needs nothing beyond a shell and this.
//
//   measure_run [--setsid] [--in FILE] [--out FILE] [--err FILE] -- COMMAND [ARG...]
//
// prints "SECONDS MAX_RSS_KIB STATUS CPU_SECONDS" on one line (CPU time is
// user plus system, which other load on the machine disturbs far less). --setsid starts the
// command in a new session, without a controlling terminal, so a program
// that waits for a key on the terminal returns at once. The command's
// standard input and output come from and go to FILE (default /dev/null);
// its standard error stays this program's unless --err names a file.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

struct Options {
    bool new_session = false;
    const char* input = "/dev/null";
    const char* output = "/dev/null";
    const char* error = nullptr;
    char** command = nullptr;
};

bool parse_options(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            options.command = i + 1 < argc ? argv + i + 1 : nullptr;
            return options.command != nullptr;
        }
        if (arg == "--setsid") {
            options.new_session = true;
        } else if (arg == "--in" && i + 1 < argc) {
            options.input = argv[++i];
        } else if (arg == "--out" && i + 1 < argc) {
            options.output = argv[++i];
        } else if (arg == "--err" && i + 1 < argc) {
            options.error = argv[++i];
        } else {
            return false;
        }
    }
    return false;
}

bool redirect(const char* name, int flags, int target) {
    const int fd = open(name, flags, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "measure_run: cannot open %s: %s\n", name, std::strerror(errno));
        return false;
    }
    const bool ok = dup2(fd, target) == target;
    close(fd);
    return ok;
}

// Runs in the child: never returns.
[[noreturn]] void start_command(const Options& options) {
    if (options.new_session && setsid() < 0) {
        _exit(126);
    }
    if (!redirect(options.input, O_RDONLY, STDIN_FILENO) ||
        !redirect(options.output, O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO) ||
        (options.error != nullptr &&
         !redirect(options.error, O_WRONLY | O_CREAT | O_TRUNC, STDERR_FILENO))) {
        _exit(126);
    }
    execvp(options.command[0], options.command);
    std::fprintf(stderr, "measure_run: cannot run %s: %s\n", options.command[0],
                 std::strerror(errno));
    _exit(127);
}

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

int exit_code(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse_options(argc, argv, options)) {
        std::fputs("usage: measure_run [--setsid] [--in FILE] [--out FILE] [--err FILE] -- COMMAND "
                   "[ARG...]\n",
                   stderr);
        return 2;
    }
    std::fflush(nullptr);  // nothing buffered may be written twice after the fork
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("measure_run: fork");
        return 1;
    }
    if (child == 0) {
        start_command(options);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("measure_run: wait4");
            return 1;
        }
    }
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    // ru_maxrss is in KiB on Linux, the peak of the command and every child it waited for.
    std::printf("%.4f %ld %d %.4f\n", wall.count(), usage.ru_maxrss, exit_code(status),
                seconds(usage.ru_utime) + seconds(usage.ru_stime));
    return 0;
}
