// The program's entry point. The program defines
//     int korvane_main(int argc, wchar_t** argv);
// and writes KORVANE_DEFINE_ENTRY once; the platform supplies the wide argument
// vector (on POSIX each byte of an argument becomes one code unit).
#ifndef KORVANE_PLATFORM_ENTRY_H
#define KORVANE_PLATFORM_ENTRY_H

int korvane_main(int argc, wchar_t** argv);

namespace korvane::platform {
int run_entry(int argc, char** argv, int (*entry)(int, wchar_t**));
}

#if defined(_WIN32)
#define KORVANE_DEFINE_ENTRY              \
    int wmain(int argc, wchar_t** argv) { \
        return korvane_main(argc, argv);  \
    }
#else
#define KORVANE_DEFINE_ENTRY                                            \
    int main(int argc, char** argv) {                                   \
        return korvane::platform::run_entry(argc, argv, &korvane_main); \
    }
#endif

#endif
