# Warning flags shared by every korvane target.
add_library(korvane_warnings INTERFACE)
if(MSVC)
    target_compile_options(korvane_warnings INTERFACE /W4)
else()
    target_compile_options(korvane_warnings INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                                                      -Wcast-align -Wformat=2)
    # g++ 12 reports impossible overlaps inside std::string's operator+ at -O2
    # (a known false positive of that release); the warning finds nothing real.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(korvane_warnings INTERFACE -Wno-restrict)
    endif()
    if(KORVANE_WERROR)
        target_compile_options(korvane_warnings INTERFACE -Werror)
    endif()
endif()
