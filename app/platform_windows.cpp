// File handling of the platform interface on Windows.
#include "platform.hpp"

#include <cstdint>

#include <io.h>
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace tervalin::platform {
namespace {

// Where a file lives: the same volume and file index mean the same file,
// whatever path, letter case, link or short name led to it.
struct FileIdentity {
    DWORD volume = 0;
    DWORD index_high = 0;
    DWORD index_low = 0;
    bool is_directory = false;

    [[nodiscard]] bool same_file_as(const FileIdentity& other) const noexcept {
        return volume == other.volume && index_high == other.index_high &&
               index_low == other.index_low;
    }
};

[[nodiscard]] bool identify(HANDLE handle, FileIdentity& identity) noexcept {
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(handle, &info) == 0) {
        return false;
    }
    identity.volume = info.dwVolumeSerialNumber;
    identity.index_high = info.nFileIndexHigh;
    identity.index_low = info.nFileIndexLow;
    identity.is_directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

[[nodiscard]] bool identify_open_file(std::FILE* file, FileIdentity& identity) noexcept {
    const std::intptr_t handle = _get_osfhandle(_fileno(file));
    return handle != -1 && identify(reinterpret_cast<HANDLE>(handle), identity);
}

[[nodiscard]] bool identify_named_file(const char* name, FileIdentity& identity) noexcept {
    // No access rights and full sharing: only the file's identity is wanted,
    // and the open must succeed while the program itself holds the file.
    // Backup semantics let a folder be opened as well.
    const HANDLE handle =
        CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool known = identify(handle, identity);
    CloseHandle(handle);
    return known;
}

}  // namespace

std::FILE* open_channel_file(const char* name) noexcept {
    // Binary: the reader takes CR LF and LF alike, and a text-mode stream
    // would end the file at the first Ctrl-Z.
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    // The C library already refuses folders; should one ever get through,
    // it must fail here, as on POSIX, rather than as an empty channel.
    FileIdentity identity;
    if (identify_open_file(file, identity) && identity.is_directory) {
        std::fclose(file);
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

bool is_same_file(std::FILE* file, const char* name) noexcept {
    FileIdentity open_file;
    FileIdentity named_file;
    return identify_open_file(file, open_file) && identify_named_file(name, named_file) &&
           open_file.same_file_as(named_file);
}

std::FILE* create_output_file(const char* name) noexcept {
    // Text mode: every line ends with CR LF, as Windows programs expect.
    std::FILE* file = std::fopen(name, "w");
    if (file != nullptr) {
        // The writer hands over large blocks already; a second copy gains nothing.
        std::setvbuf(file, nullptr, _IONBF, 0);
    }
    return file;
}

// Large pages on Windows need the lock-pages privilege, which ordinary
// accounts lack: there is nothing for the hint to ask for.
void advise_large_pages(void* start, std::size_t size) noexcept {
    static_cast<void>(start);
    static_cast<void>(size);
}

}  // namespace tervalin::platform
