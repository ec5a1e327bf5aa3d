// History files on Windows.
#include <windows.h>

#include <cstring>
#include <string>

#include "history/history.h"

namespace zk {

namespace {

bool WriteAll(HANDLE file, const std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

// Creates a new, unique file beside `path`; INVALID_HANDLE_VALUE when none can be created.
HANDLE CreateSibling(const std::string& path, std::string& name) {
    const unsigned long long stamp = ::GetTickCount();
    for (unsigned attempt = 0; attempt < 64; ++attempt) {
        name = path + ".tmp" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(stamp + attempt);
        HANDLE file = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

HistoryFileRead ReadHistoryFile(const std::string& path, std::uint8_t* buffer) {
    // Others may read the file meanwhile, nobody may write it.
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return HistoryFileRead::Missing;
    std::size_t got = 0;
    bool failed = false;
    while (got < kHdbBytes) {
        DWORD n = 0;
        if (!::ReadFile(file, buffer + got, static_cast<DWORD>(kHdbBytes - got), &n, nullptr)) {
            failed = true;
            break;
        }
        if (n == 0) break;
        got += n;
    }
    ::CloseHandle(file);
    if (failed || got < kHdbBytes) {
        std::memset(buffer, 0, kHdbBytes);
        return HistoryFileRead::Short;
    }
    return HistoryFileRead::Complete;
}

bool WriteHistoryFile(const std::string& path, const std::uint8_t* bytes, std::size_t size) {
    std::string temp;
    HANDLE file = CreateSibling(path, temp);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = WriteAll(file, bytes, size) && ::FlushFileBuffers(file);
    if (!::CloseHandle(file)) ok = false;
    if (ok && !::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) ok = false;
    if (!ok) {
        ::DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace zk
