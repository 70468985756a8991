# SPDX-License-Identifier: GPL-3.0-or-later
# libFuzzer targets: ordinary targets that link the libraries they test,
# built by clang++ with AddressSanitizer and UBSan, and run by ctest for a
# bounded number of inputs.
#
#   lumora_add_fuzzer(NAME <test name>
#                     SOURCES <file>...       the fuzz target's own sources
#                     LINK <target>...        the libraries it tests
#                     [RUNS <n>]              inputs per ctest run (default 100000)
#                     [ARGS <arg>...])        more libFuzzer options
#
# The program is tests/bin/<name in lower case with underscores> of the
# build that has LUMORA_FUZZ on: the `fuzz` preset (build-fuzz/, clang++
# for everything, for long searches), or the fuzz build that a build with
# another compiler (the dev and asan presets' g++) makes of the same
# sources in LUMORA_FUZZ_BUILD_DIR (its fuzz/ folder unless set; the dev
# and asan presets share build/fuzz), whose programs its tests run. A test
# starts from LUMORA_FUZZER_SEED (the asan preset sets another seed than
# the default, so the two suites try different inputs) and keeps no
# corpus. It runs alone (RUN_SERIAL): it keeps a core busy, and the
# timing-sensitive tests must not share their machine with it.
#
# LUMORA_REQUIRE_FUZZER (the dev and asan presets set it) makes a missing
# clang++ or libFuzzer a configure error instead of a suite that quietly
# lacks its fuzz tests.
include_guard(GLOBAL)

option(LUMORA_REQUIRE_FUZZER "Fail the configuration when the fuzz targets cannot be built" OFF)
set(LUMORA_FUZZER_SEED 1 CACHE STRING "libFuzzer's -seed for the fuzz tests")

if(LUMORA_FUZZ)
    set(LUMORA_FUZZER_WORKS TRUE)
    add_custom_target(lumora_fuzzers)
else()
    find_program(LUMORA_CLANGXX NAMES clang++-14 clang++)
    find_program(LUMORA_CLANG NAMES clang-14 clang)
    if(NOT DEFINED LUMORA_FUZZER_WORKS)
        set(works FALSE)
        if(LUMORA_CLANGXX AND LUMORA_CLANG)
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
    else()
        # The same sources built with clang++ and LUMORA_FUZZ, for the fuzz
        # targets alone. Of this build's settings only LUMORA_WERROR reaches
        # it, so builds that differ in their flags alone (the dev and asan
        # presets) share one by naming the same folder.
        include(ExternalProject)
        set(LUMORA_FUZZ_BUILD_DIR ${CMAKE_BINARY_DIR}/fuzz CACHE PATH
            "Where the clang++ build of the fuzz targets goes")
        ExternalProject_Add(lumora_fuzz_build
            SOURCE_DIR ${PROJECT_SOURCE_DIR}
            BINARY_DIR ${LUMORA_FUZZ_BUILD_DIR}
            CMAKE_ARGS -DCMAKE_CXX_COMPILER=${LUMORA_CLANGXX} -DCMAKE_C_COMPILER=${LUMORA_CLANG}
                       -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_FUZZ=ON -DLUMORA_WERROR=${LUMORA_WERROR}
            BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target lumora_fuzzers
            BUILD_ALWAYS ON
            INSTALL_COMMAND "")
    endif()
endif()

function(lumora_add_fuzzer)
    cmake_parse_arguments(PARSE_ARGV 0 fuzz "" "NAME;RUNS" "SOURCES;LINK;ARGS")
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

    if(LUMORA_FUZZ)
        add_executable(${program} ${fuzz_SOURCES})
        target_link_libraries(${program} PRIVATE ${fuzz_LINK} lumora_warnings)
        target_link_options(${program} PRIVATE -fsanitize=fuzzer)
        set_target_properties(${program} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin)
        add_dependencies(lumora_fuzzers ${program})
        set(output $<TARGET_FILE:${program}>)
    else()
        set(output ${LUMORA_FUZZ_BUILD_DIR}/tests/bin/${program})
    endif()
    add_test(NAME ${fuzz_NAME} COMMAND ${output} -runs=${fuzz_RUNS} -seed=${LUMORA_FUZZER_SEED} ${fuzz_ARGS})
    set_tests_properties(${fuzz_NAME} PROPERTIES RUN_SERIAL TRUE TIMEOUT 300)
endfunction()
