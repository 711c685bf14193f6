// What the program needs from the operating system beyond standard C++:
// opening files the way the run needs them and the final single-key read.
// One implementation per platform (platform_posix.cpp, platform_windows.cpp),
// chosen by the build; nothing else in the program tests for a platform.
#pragma once

#include <cstddef>
#include <cstdio>

namespace tervalin::platform {

// Opens a channel file for reading in binary mode, unbuffered (the reader
// brings its own buffer); nullptr when it cannot be opened or is a directory.
[[nodiscard]] std::FILE* open_channel_file(const char* name) noexcept;

// True when `name` is the same file on disk as the open `file` (also through
// a link or another spelling of its path).
[[nodiscard]] bool is_same_file(std::FILE* file, const char* name) noexcept;

// Creates, or empties, `name` for writing in text mode; nullptr on failure.
[[nodiscard]] std::FILE* create_output_file(const char* name) noexcept;

// Size of the large pages that advise_large_pages asks for.
inline constexpr std::size_t kLargePageSize = 2 * 1024 * 1024;

// Asks the system to back [start, start + size) with large pages where it can:
// filling 32 MB of rows otherwise costs thousands of page faults. A hint only.
void advise_large_pages(void* start, std::size_t size) noexcept;

// Reads one key press from the console itself (not standard input), without
// echo or Enter: its character code; 0 or 224 first for two-code keys (function
// keys 0, cursor and editing keys 224); -1 at once when there is no console.
[[nodiscard]] int wait_for_key() noexcept;

}  // namespace tervalin::platform
