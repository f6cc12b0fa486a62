# Installation: the program, the shared library with its soname, the public
# headers, the man page, the shell completions, and a CMake package so that
# another project can write
#   find_package(korvane 3 REQUIRED)
#   target_link_libraries(app PRIVATE korvane::korvane)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KORVANE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/korvane CACHE STRING
    "Where the CMake package files of korvane are installed, relative to the prefix")

# Outside the build tree the target is known as korvane::korvane, the same name
# the in-tree alias gives it.
set_target_properties(libkorvane PROPERTIES EXPORT_NAME korvane)

install(TARGETS libkorvane
        EXPORT korvaneTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)

if(TARGET korvane)
    install(TARGETS korvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/korvane
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development
        FILES_MATCHING PATTERN "*.h")

install(FILES ${PROJECT_SOURCE_DIR}/docs/korvane.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT runtime)

# The recipes for running shards under a scheduler, which the man page names.
install(FILES ${PROJECT_SOURCE_DIR}/docs/cluster.md ${PROJECT_SOURCE_DIR}/docs/k8s-indexed-job.yaml
        DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT runtime)

# Shell completions where bash-completion, zsh and fish look for those a
# package brings.
if(NOT WIN32)
    install(FILES ${PROJECT_SOURCE_DIR}/completions/korvane.bash
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
            RENAME korvane
            COMPONENT runtime)
    install(FILES ${PROJECT_SOURCE_DIR}/completions/_korvane
            DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions
            COMPONENT runtime)
    install(FILES ${PROJECT_SOURCE_DIR}/completions/korvane.fish
            DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d
            COMPONENT runtime)
endif()

install(EXPORT korvaneTargets
        NAMESPACE korvane::
        DESTINATION ${KORVANE_INSTALL_CMAKEDIR}
        COMPONENT development)

configure_package_config_file(
    ${CMAKE_CURRENT_LIST_DIR}/korvaneConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/korvaneConfig.cmake
    INSTALL_DESTINATION ${KORVANE_INSTALL_CMAKEDIR})
# The major version is the soname: a 3.x package serves every 3.y request.
write_basic_package_version_file(
    ${CMAKE_CURRENT_BINARY_DIR}/korvaneConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/korvaneConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/korvaneConfigVersion.cmake
        DESTINATION ${KORVANE_INSTALL_CMAKEDIR}
        COMPONENT development)
