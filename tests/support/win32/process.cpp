#include "support/process.h"

#include <algorithm>
#include <atomic>
#include <cwchar>

#include "platform/win32/native.h"

#include <psapi.h>

namespace korvane::testing {

namespace win32 = korvane::platform::win32;

namespace {

// Quotes one argument so that the C runtime of the child splits the command
// line back into the same argument (backslashes double only before a quote).
void append_quoted(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line.push_back(L'"');
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        backslashes = 0;
        line.push_back(c);
    }
    line.append(backslashes * 2, L'\\');
    line.push_back(L'"');
}

bool same_name(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring name_of(const std::wstring& entry) {
    // Entries such as "=C:=C:\dir" keep their leading '=' in the name.
    std::size_t equals = entry.find(L'=', 1);
    return entry.substr(0, equals);
}

// The parent's environment with the requested changes, as a block for
// CreateProcessW.
std::wstring environment_block(const process_options& options) {
    std::vector<std::wstring> entries;
    if (wchar_t* current = ::GetEnvironmentStringsW()) {
        for (const wchar_t* p = current; *p != L'\0'; p += std::wcslen(p) + 1) {
            entries.emplace_back(p);
        }
        ::FreeEnvironmentStringsW(current);
    }
    for (const auto& [name, value] : options.environment) {
        const std::wstring wide_name = win32::from_utf8(name);
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const std::wstring& entry) {
                                         return same_name(name_of(entry), wide_name);
                                     }),
                      entries.end());
        if (value) {
            entries.push_back(wide_name + L"=" + win32::from_utf8(*value));
        }
    }
    std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                      static_cast<int>(b.size()), TRUE) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const auto& entry : entries) {
        block += entry;
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

HANDLE inheritable_file(const std::wstring& path, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return ::CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                         write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string slurp(const std::wstring& path) {
    std::string bytes;
    win32::handle_owner file(::CreateFileW(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) {
        return bytes;
    }
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    return bytes;
}

}  // namespace

// Arguments, directories and variables come in as UTF-8 and reach the child as
// UTF-16; the captured output comes back as the bytes the child wrote.
process_result run_process(const std::vector<std::string>& argv, const process_options& options) {
    process_result result;
    if (argv.empty()) {
        return result;
    }
    std::wstring scratch = win32::from_utf8(options.scratch_directory);
    if (scratch.empty()) {
        wchar_t temp[MAX_PATH + 1];
        DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
        scratch.assign(temp, length);
    }
    if (!scratch.empty() && scratch.back() != L'\\' && scratch.back() != L'/') {
        scratch.push_back(L'\\');
    }
    static std::atomic<unsigned> counter{0};
    const std::wstring stem = scratch + L".korvane-process-" +
                              std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(counter.fetch_add(1));
    const std::wstring out_path = stem + L".out";
    const std::wstring err_path = stem + L".err";

    std::wstring command_line;
    for (const auto& arg : argv) {
        if (!command_line.empty()) {
            command_line.push_back(L' ');
        }
        append_quoted(command_line, win32::from_utf8(arg));
    }
    std::wstring environment = environment_block(options);
    std::wstring directory = win32::from_utf8(options.working_directory);

    {
        win32::handle_owner in(inheritable_file(L"NUL", false));
        win32::handle_owner out(inheritable_file(out_path, true));
        win32::handle_owner err(inheritable_file(err_path, true));
        if (!in.valid() || !out.valid() || !err.valid()) {
            return result;
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in.get();
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        PROCESS_INFORMATION child{};
        if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE,
                              CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(),
                              directory.empty() ? nullptr : directory.c_str(), &startup, &child)) {
            ::DeleteFileW(out_path.c_str());
            ::DeleteFileW(err_path.c_str());
            return result;
        }
        ::CloseHandle(child.hThread);
        ::WaitForSingleObject(child.hProcess, INFINITE);
        DWORD code = 0;
        ::GetExitCodeProcess(child.hProcess, &code);
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        if (::K32GetProcessMemoryInfo(child.hProcess, &memory, sizeof memory)) {
            result.peak_memory_kib = memory.PeakWorkingSetSize / 1024;
        }
        ::CloseHandle(child.hProcess);
        result.started = true;
        result.exit_status = static_cast<int>(code & 0xFF);
    }
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    ::DeleteFileW(out_path.c_str());
    ::DeleteFileW(err_path.c_str());
    return result;
}

// Windows has no per-process limit on file sizes: the tests that need one
// cannot run here. -1 says the child could not be run.
int run_with_file_size_limit(std::uint64_t, int (*)(void*), void*) {
    return -1;
}

}  // namespace korvane::testing
