# SPDX-License-Identifier: GPL-3.0-or-later
# libFuzzer targets, built with clang++ whatever compiler the main build
# uses, with AddressSanitizer and UBSan, and run by ctest for a bounded
# number of inputs.
#
#   lumora_add_fuzzer(NAME <test name>
#                     SOURCES <file>...      .cpp files and the headers they use (a
#                                            change to either rebuilds), relative to
#                                            the calling folder or absolute
#                     [INCLUDES <dir>...]     include folders
#                     [LIBS <lib>...]         bare names become -l<name>; anything else goes as is
#                     [RUNS <n>]              inputs per ctest run (default 100000)
#                     [ARGS <arg>...])        more libFuzzer options
#
# The program lands in tests/bin/<name in lower case with underscores>. It
# starts from LUMORA_FUZZER_SEED (the asan preset sets another seed than the
# default, so the two suites try different inputs) and keeps no corpus. A
# fuzz test runs alone (RUN_SERIAL): it keeps a core busy, and the
# timing-sensitive tests must not share their machine with it. The sources
# must not need Qt.
#
# LUMORA_REQUIRE_FUZZER (the dev and asan presets set it) makes a missing
# clang++ or libFuzzer a configure error instead of a suite that quietly
# lacks its fuzz tests.
include_guard(GLOBAL)

option(LUMORA_REQUIRE_FUZZER "Fail the configuration when the fuzz targets cannot be built" OFF)
set(LUMORA_FUZZER_SEED 1 CACHE STRING "libFuzzer's -seed for the fuzz tests")

find_program(LUMORA_CLANGXX NAMES clang++-14 clang++)
if(NOT DEFINED LUMORA_FUZZER_WORKS)
    set(works FALSE)
    if(LUMORA_CLANGXX)
        set(probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/fuzzer-probe)
        file(WRITE ${probe_dir}/probe.cpp "#include <cstddef>\n#include <cstdint>\n"
            "extern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n")
        execute_process(
            COMMAND ${LUMORA_CLANGXX} -fsanitize=fuzzer,address,undefined ${probe_dir}/probe.cpp
                    -o ${probe_dir}/probe
            RESULT_VARIABLE probe_result OUTPUT_QUIET ERROR_QUIET)
        if(probe_result EQUAL 0)
            set(works TRUE)
        endif()
    endif()
    set(LUMORA_FUZZER_WORKS ${works} CACHE INTERNAL "clang++ builds libFuzzer programs")
endif()

if(NOT LUMORA_FUZZER_WORKS)
    if(LUMORA_REQUIRE_FUZZER)
        if(LUMORA_CLANGXX)
            set(why "${LUMORA_CLANGXX} cannot build a libFuzzer program")
        else()
            set(why "no clang++ was found")
        endif()
        message(FATAL_ERROR
            "The fuzz targets need clang++ with libFuzzer, and ${why}. Install clang-14 and "
            "libclang-rt-14-dev (scripts/setup installs scripts/packages.txt), or configure "
            "with -DLUMORA_REQUIRE_FUZZER=OFF to build without the fuzz tests.")
    endif()
    message(STATUS "clang++ with libFuzzer not found: the fuzz targets are not built")
endif()

function(lumora_add_fuzzer)
    cmake_parse_arguments(PARSE_ARGV 0 fuzz "" "NAME;RUNS" "SOURCES;INCLUDES;LIBS;ARGS")
    if(NOT fuzz_NAME OR NOT fuzz_SOURCES)
        message(FATAL_ERROR "lumora_add_fuzzer: NAME and SOURCES are required")
    endif()
    if(NOT LUMORA_FUZZER_WORKS)
        return()
    endif()
    if(NOT fuzz_RUNS)
        set(fuzz_RUNS 100000)
    endif()
    string(REGEX REPLACE "([a-z0-9])([A-Z])" "\\1_\\2" program ${fuzz_NAME})
    string(TOLOWER ${program} program)
    set(output ${CMAKE_BINARY_DIR}/tests/bin/${program})

    set(sources)
    set(depends)
    foreach(source IN LISTS fuzz_SOURCES)
        get_filename_component(source ${source} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
        if(source MATCHES "\\.(cpp|cc|c)$")
            list(APPEND sources ${source})
        endif()
        list(APPEND depends ${source})
    endforeach()
    set(includes)
    foreach(dir IN LISTS fuzz_INCLUDES)
        get_filename_component(dir ${dir} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
        list(APPEND includes -I${dir})
    endforeach()
    set(libs)
    foreach(lib IN LISTS fuzz_LIBS)
        if(lib MATCHES "^[A-Za-z0-9_+.-]+$" AND NOT lib MATCHES "^-")
            list(APPEND libs -l${lib})
        else()
            list(APPEND libs ${lib})
        endif()
    endforeach()

    set(warnings -Wall -Wextra -Wpedantic)
    if(LUMORA_WERROR)
        list(APPEND warnings -Werror)
    endif()
    add_custom_command(OUTPUT ${output}
        COMMAND ${LUMORA_CLANGXX} -std=c++20 -g -O1 ${warnings}
                -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
                ${includes} ${sources} ${libs} -o ${output}
        DEPENDS ${depends}
        COMMENT "Building the fuzzer ${program} with ${LUMORA_CLANGXX}"
        VERBATIM)
    add_custom_target(${program} ALL DEPENDS ${output})
    add_test(NAME ${fuzz_NAME}
        COMMAND ${output} -runs=${fuzz_RUNS} -seed=${LUMORA_FUZZER_SEED} ${fuzz_ARGS})
    set_tests_properties(${fuzz_NAME} PROPERTIES RUN_SERIAL TRUE TIMEOUT 300)
endfunction()
