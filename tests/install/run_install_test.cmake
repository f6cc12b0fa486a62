# Installs the build tree into a fresh prefix, builds a separate project against
# the installed package and runs it. Invoked by ctest with -D settings:
#   BUILD_DIR, WORK_DIR, SOURCE_DIR, CXX_COMPILER, BUILD_TYPE, SANITIZE_FLAGS
cmake_minimum_required(VERSION 3.25)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out
                    ERROR_VARIABLE out)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "failed (${result}): ${ARGN}\n${out}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

set(config_args)
if(BUILD_TYPE)
    set(config_args --config ${BUILD_TYPE})
endif()
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} ${config_args})

# The pieces a user and a packager expect, under their usual names.
file(GLOB libdirs LIST_DIRECTORIES true ${prefix}/lib ${prefix}/lib64 ${prefix}/lib/*-linux-gnu)
set(found_soname FALSE)
foreach(dir ${libdirs})
    if(EXISTS ${dir}/libkorvane.so.3 AND EXISTS ${dir}/libkorvane.so.3.0.0
       AND IS_SYMLINK ${dir}/libkorvane.so)
        set(found_soname TRUE)
    endif()
endforeach()
if(NOT found_soname)
    message(FATAL_ERROR "libkorvane.so, .so.3 and .so.3.0.0 not installed under ${prefix}")
endif()
foreach(file bin/korvane share/man/man1/korvane.1 include/korvane/export.h
             include/korvane/hasher.h include/korvane/version.h include/korvane/config.h
             share/bash-completion/completions/korvane share/zsh/vendor-completions/_korvane
             share/fish/vendor_completions.d/korvane.fish)
    if(NOT EXISTS ${prefix}/${file})
        message(FATAL_ERROR "${file} not installed under ${prefix}")
    endif()
endforeach()

# The installed program finds the installed library by itself.
run(${prefix}/bin/korvane -V)
if(NOT last_output MATCHES "3\\.00")
    message(FATAL_ERROR "installed korvane -V printed: ${last_output}")
endif()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/consumer -B ${WORK_DIR}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${SANITIZE_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${SANITIZE_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build ${config_args})
run(${WORK_DIR}/build/consumer)
if(NOT last_output MATCHES "crc cbf43926" OR NOT last_output MATCHES "consumer ok")
    message(FATAL_ERROR "consumer printed: ${last_output}")
endif()
message(STATUS "${last_output}")
file(REMOVE_RECURSE ${WORK_DIR})
