# Applies KORVANE_SANITIZE to every target of the build.
if(KORVANE_SANITIZE)
    string(REPLACE ";" "," _korvane_san "${KORVANE_SANITIZE}")
    add_compile_options(-fsanitize=${_korvane_san} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${_korvane_san})
    # The sanitizers' instrumentation leads g++ to report uninitialised reads
    # deep inside the standard library (std::regex, std::function) that cannot
    # happen; the plain builds keep the warning.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        add_compile_options(-Wno-maybe-uninitialized)
    endif()
    if("undefined" IN_LIST KORVANE_SANITIZE)
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()
