#include "platform/cpu.h"

#include <cwchar>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/win32/native.h"

// After windows.h, which it needs.
#include <winioctl.h>

namespace korvane::platform {

int usable_cpu_count() {
    DWORD_PTR process_mask = 0;
    DWORD_PTR system_mask = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process_mask, &system_mask) &&
        process_mask != 0) {
        int count = 0;
        for (DWORD_PTR bits = process_mask; bits != 0; bits &= bits - 1) {
            ++count;
        }
        return count;
    }
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

namespace {

// Asks the volume that holds the file whether reading it incurs a seek penalty.
bool volume_seeks(HANDLE file) {
    wchar_t name[1024];
    DWORD length = ::GetFinalPathNameByHandleW(file, name, 1024, VOLUME_NAME_GUID);
    if (length == 0 || length >= 1024) {
        return false;
    }
    // "\\?\Volume{guid}\dir\name": the volume is everything up to the brace.
    wchar_t* brace = std::wcschr(name, L'}');
    if (brace == nullptr) {
        return false;
    }
    brace[1] = L'\0';
    HANDLE volume = ::CreateFileW(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (volume == INVALID_HANDLE_VALUE) {
        return false;
    }
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceSeekPenaltyProperty;
    query.QueryType = PropertyStandardQuery;
    DEVICE_SEEK_PENALTY_DESCRIPTOR answer = {};
    DWORD got = 0;
    BOOL ok = ::DeviceIoControl(volume, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &answer,
                                sizeof answer, &got, nullptr);
    ::CloseHandle(volume);
    return ok && got >= sizeof answer && answer.IncursSeekPenalty;
}

}  // namespace

bool on_rotational_disk(file_handle file) {
    HANDLE h = static_cast<HANDLE>(file);
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h, &info)) {
        return false;
    }
    static std::mutex guard;
    static std::vector<std::pair<DWORD, bool>> known;
    std::lock_guard<std::mutex> lock(guard);
    for (const auto& [serial, seeks] : known) {
        if (serial == info.dwVolumeSerialNumber) {
            return seeks;
        }
    }
    bool seeks = volume_seeks(h);
    if (known.size() < 64) {
        known.emplace_back(info.dwVolumeSerialNumber, seeks);
    }
    return seeks;
}

// No cheap way to ask whether a read would touch the disk: assume it would.
int read_if_cached(file_handle, void*, std::size_t, std::uint64_t) {
    return would_need_disk;
}

bool all_in_memory(file_handle, std::uint64_t) {
    return false;  // no cheap way to ask: the disk rule stays on
}

}  // namespace korvane::platform
