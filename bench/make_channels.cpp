// Writes three synchronized channel files (X axis, 45 degree, Y axis) of a
// synthetic rosette record, for timing the program on realistic input.
//
//   make_channels [--rows N] [--seed S] [--crlf] [--exponent] [PREFIX]
//
// writes PREFIX_x.txt, PREFIX_45.txt and PREFIX_y.txt (PREFIX defaults to
// "channel") and prints their names, one a line.
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "synthetic_rosette.hpp"

namespace {

using tervalin::bench::NumberStyle;

constexpr std::int64_t kDefaultRows = 1'000'000;
constexpr std::uint64_t kDefaultSeed = 20050709;
// Large blocks: the files reach hundreds of megabytes, and few writes keep
// the generator far faster than anything it is used to time.
constexpr std::size_t kBlockSize = 1 << 20;

struct Options {
    std::int64_t rows = kDefaultRows;
    std::uint64_t seed = kDefaultSeed;
    NumberStyle style = NumberStyle::fixed;
    bool crlf = false;
    std::string prefix = "channel";
};

void print_usage(std::FILE* out) {
    std::fputs("usage: make_channels [--rows N] [--seed S] [--crlf] [--exponent] [PREFIX]\n"
               "  writes PREFIX_x.txt, PREFIX_45.txt, PREFIX_y.txt (PREFIX: channel)\n",
               out);
}

template <typename Integer>
bool parse_integer(std::string_view text, Integer& value) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && ptr == text.data() + text.size();
}

// False after printing why when the arguments make no sense.
bool parse_options(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--crlf") {
            options.crlf = true;
        } else if (arg == "--exponent") {
            options.style = NumberStyle::exponent;
        } else if (arg == "--rows" && has_value) {
            if (!parse_integer(argv[++i], options.rows) || options.rows < 0) {
                std::fprintf(stderr, "make_channels: bad row count: %s\n", argv[i]);
                return false;
            }
        } else if (arg == "--seed" && has_value) {
            if (!parse_integer(argv[++i], options.seed)) {
                std::fprintf(stderr, "make_channels: bad seed: %s\n", argv[i]);
                return false;
            }
        } else if (arg == "--help" || arg == "-h") {
            print_usage(stdout);
            std::exit(0);
        } else if (!arg.empty() && arg[0] != '-') {
            options.prefix = arg;
        } else {
            print_usage(stderr);
            return false;
        }
    }
    return true;
}

// One output file and the block gathered for it.
class ChannelFile {
public:
    bool open(const std::string& name) {
        name_ = name;
        file_ = std::fopen(name.c_str(), "wb");
        if (file_ == nullptr) {
            std::fprintf(stderr, "make_channels: cannot create %s: %s\n", name.c_str(),
                         std::strerror(errno));
            return false;
        }
        block_.resize(kBlockSize);
        used_ = 0;
        return true;
    }

    // Room for one more line, writing out the block when it is short of it.
    char* line_room() {
        if (block_.size() - used_ < tervalin::bench::kMaxLineSize) {
            flush();
        }
        return block_.data() + used_;
    }
    void commit(char* line_end) { used_ = static_cast<std::size_t>(line_end - block_.data()); }

    bool close() {
        flush();
        const bool ok = !failed_ && std::fclose(file_) == 0;
        file_ = nullptr;
        if (!ok) {
            std::fprintf(stderr, "make_channels: cannot write %s\n", name_.c_str());
        }
        return ok;
    }

private:
    void flush() {
        failed_ = failed_ || std::fwrite(block_.data(), 1, used_, file_) != used_;
        used_ = 0;
    }

    std::string name_;
    std::FILE* file_ = nullptr;
    std::vector<char> block_;
    std::size_t used_ = 0;
    bool failed_ = false;
};

bool write_channels(const Options& options) {
    static constexpr std::array<const char*, 3> kSuffixes{"_x.txt", "_45.txt", "_y.txt"};
    std::array<ChannelFile, 3> files;
    for (std::size_t c = 0; c < files.size(); ++c) {
        if (!files[c].open(options.prefix + kSuffixes[c])) {
            return false;
        }
    }
    tervalin::bench::SyntheticRosette rosette(options.seed);
    for (std::int64_t row = 0; row < options.rows; ++row) {
        const tervalin::bench::RosetteStrains strains = rosette.next();
        const std::array<double, 3> values{strains.x, strains.d, strains.y};
        for (std::size_t c = 0; c < files.size(); ++c) {
            files[c].commit(tervalin::bench::put_line(row, values[c], options.style, options.crlf,
                                                      files[c].line_room()));
        }
    }
    bool ok = true;
    for (ChannelFile& file : files) {
        ok = file.close() && ok;
    }
    if (ok) {
        for (const char* suffix : kSuffixes) {
            std::printf("%s%s\n", options.prefix.c_str(), suffix);
        }
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse_options(argc, argv, options)) {
        return 2;
    }
    return write_channels(options) ? 0 : 1;
}
