# The libraries of a Windows build made on Debian with mingw-w64. The header-only ones come
# from Debian's own packages: a folder in the build tree links to just their headers, as
# adding the host's /usr/include would mix Linux's C library headers into a Windows build.
# GoogleTest is built from Debian's sources with the same toolchain.
set(q40_win_include ${PROJECT_BINARY_DIR}/windows-include)
file(MAKE_DIRECTORY ${q40_win_include})
foreach(dir nlohmann CLI)
    if(NOT EXISTS /usr/include/${dir})
        message(FATAL_ERROR "/usr/include/${dir} is missing: install Debian's "
                            "nlohmann-json3-dev and libcli11-dev (scripts/setup)")
    endif()
    file(CREATE_LINK /usr/include/${dir} ${q40_win_include}/${dir} SYMBOLIC)
endforeach()

add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${q40_win_include})
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${q40_win_include})

if(Q40_TESTS)
    set(gtest_source /usr/src/googletest)
    if(NOT EXISTS ${gtest_source}/CMakeLists.txt)
        message(FATAL_ERROR "${gtest_source} is missing: install Debian's googletest (scripts/setup)")
    endif()
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    # GoogleTest's own code is not held to this project's warnings.
    set(q40_saved_options ${CMAKE_CXX_FLAGS})
    add_subdirectory(${gtest_source} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    foreach(target gtest gtest_main)
        target_compile_options(${target} PRIVATE -w)
    endforeach()
endif()

# The window program needs Qt 6 for Windows, which Debian does not package.
if(Q40_GUI)
    find_package(Qt6 QUIET COMPONENTS Widgets Network Test)
    if(NOT Qt6_FOUND)
        message(STATUS "Qt 6 for Windows not found: the window program is left out")
        set(Q40_GUI OFF)
    endif()
endif()

# Single C headers of Linux packages, linked into a folder of the target's own.
function(q40_windows_headers target)
    set(dir ${PROJECT_BINARY_DIR}/windows-include-${target})
    file(MAKE_DIRECTORY ${dir})
    foreach(header ${ARGN})
        if(NOT EXISTS ${header})
            message(FATAL_ERROR "${header} is missing (scripts/setup installs it)")
        endif()
        get_filename_component(name ${header} NAME)
        file(CREATE_LINK ${header} ${dir}/${name} SYMBOLIC)
    endforeach()
    target_include_directories(${target} SYSTEM PRIVATE ${dir})
endfunction()
