# Applies KORVANE_SANITIZE to every target of the build.
if(KORVANE_SANITIZE)
    string(REPLACE ";" "," _korvane_san "${KORVANE_SANITIZE}")
    add_compile_options(-fsanitize=${_korvane_san} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${_korvane_san})
    if("undefined" IN_LIST KORVANE_SANITIZE)
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()
