// File handling of the platform interface on POSIX systems.
#include "platform.hpp"

#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdint>

namespace tervalin::platform {

std::FILE* open_channel_file(const char* name) noexcept {
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    // fopen succeeds on a directory here, but reading it fails: refuse it now.
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

bool is_same_file(std::FILE* file, const char* name) noexcept {
    struct stat open_info {};
    struct stat named_info {};
    return fstat(fileno(file), &open_info) == 0 && stat(name, &named_info) == 0 &&
           open_info.st_dev == named_info.st_dev && open_info.st_ino == named_info.st_ino;
}

std::FILE* create_output_file(const char* name) noexcept {
    std::FILE* file = std::fopen(name, "w");
    if (file != nullptr) {
        // The writer hands over large blocks already; a second copy gains nothing.
        std::setvbuf(file, nullptr, _IONBF, 0);
    }
    return file;
}

void advise_large_pages(void* start, std::size_t size) noexcept {
#ifdef MADV_HUGEPAGE  // Linux only; elsewhere the hint has no counterpart
    // madvise wants a page-aligned start: advise the whole large pages inside.
    const auto first = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t aligned = (first + kLargePageSize - 1) & ~(kLargePageSize - 1);
    const std::uintptr_t end = first + size;
    if (aligned < end) {
        madvise(reinterpret_cast<void*>(aligned), end - aligned, MADV_HUGEPAGE);
    }
#else
    static_cast<void>(start);
    static_cast<void>(size);
#endif
}

}  // namespace tervalin::platform
