#include "strain_history.hpp"

#include <cassert>
#include <cstddef>

#include "number_format.hpp"

namespace tervalin {
namespace {

// Bytes gathered before each write; large writes keep the system calls few.
constexpr std::size_t kWriteBlockSize = 256 * 1024;
// Room one line may need: four fields at their longest and the separators.
constexpr std::size_t kMaxLineSize = 4 * kFormatBufferSize + 8;

char* put_field(double value, char* out) noexcept {
    return out + format_e14_7(value, out);
}

char* put_separator(char* out) noexcept {
    out[0] = ' ';
    out[1] = ' ';
    return out + 2;
}

bool write_block(const char* data, std::size_t size, std::FILE* out) noexcept {
    return std::fwrite(data, 1, size, out) == size;
}

}  // namespace

void StrainHistory::append(double row_time, const PrincipalStrains& strains) noexcept {
    assert(count < kMaxRows);
    const auto row = static_cast<std::size_t>(count);
    time[row] = row_time;
    e1[row] = strains.e1;
    e2[row] = strains.e2;
    shear[row] = strains.shear;
    ++count;
}

bool write_principal_strain_file(const StrainHistory& history, std::FILE* out) noexcept {
    // Static so that the block costs no stack; the program writes one file at a time.
    static std::array<char, kWriteBlockSize> block;
    char* const block_end = block.data() + block.size();
    char* cursor = block.data();
    for (std::size_t row = 0; row < static_cast<std::size_t>(history.count); ++row) {
        if (static_cast<std::size_t>(block_end - cursor) < kMaxLineSize) {
            if (!write_block(block.data(), static_cast<std::size_t>(cursor - block.data()), out)) {
                return false;
            }
            cursor = block.data();
        }
        cursor = put_field(history.time[row], cursor);
        cursor = put_separator(cursor);
        cursor = put_field(history.e1[row], cursor);
        cursor = put_separator(cursor);
        cursor = put_field(history.e2[row], cursor);
        cursor = put_separator(cursor);
        cursor = put_field(history.shear[row], cursor);
        *cursor++ = '\n';
    }
    const auto rest = static_cast<std::size_t>(cursor - block.data());
    return write_block(block.data(), rest, out) && std::fflush(out) == 0;
}

}  // namespace tervalin
