# Warning flags shared by every korvane target.
add_library(korvane_warnings INTERFACE)
if(MSVC)
    target_compile_options(korvane_warnings INTERFACE /W4)
else()
    target_compile_options(korvane_warnings INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                                                      -Wcast-align -Wformat=2)
    if(KORVANE_WERROR)
        target_compile_options(korvane_warnings INTERFACE -Werror)
    endif()
endif()
