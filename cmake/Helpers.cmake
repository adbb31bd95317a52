# orv_add_test(NAME name SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable; its cases are registered with CTest one by one. The label
# "threads" marks the tests that the ThreadSanitizer run executes.
function(orv_add_test)
    cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
    if(NOT ORV_BUILD_TESTS)
        return()
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
    set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests")
    # An empty LABELS value would swallow the next property name, so it is only passed when given.
    set(properties ENVIRONMENT "ORV_SHARED_DIR=${PROJECT_SOURCE_DIR}/../shared")
    if(T_LABELS)
        list(APPEND properties LABELS "${T_LABELS}")
    endif()
    gtest_discover_tests(${T_NAME}
        WORKING_DIRECTORY "${CMAKE_BINARY_DIR}/tests"
        PROPERTIES ${properties}
        DISCOVERY_TIMEOUT 60)
endfunction()

# orv_add_bench(NAME name SOURCES ... LIBS ...): a Google Benchmark program in build/bench.
function(orv_add_bench)
    cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
    find_package(benchmark REQUIRED)
    add_executable(${B_NAME} ${B_SOURCES})
    target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark)
    set_target_properties(${B_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bench")
endfunction()

# orv_add_fuzz(NAME name SOURCES ... LIBS ... [DEFINITIONS ...])
# A libFuzzer target in build/fuzz. The code under test is compiled into it (pass its sources),
# so that libFuzzer sees its coverage. It is registered as a test labelled "fuzz" that fuzzes for
# a bounded time from the seed corpus in the calling folder's corpus/.
function(orv_add_fuzz)
    cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS;DEFINITIONS" ${ARGN})
    add_executable(${F_NAME} ${F_SOURCES})
    target_include_directories(${F_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
    if(F_DEFINITIONS)
        target_compile_definitions(${F_NAME} PRIVATE ${F_DEFINITIONS})
    endif()
    target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/fuzz")

    set(work_corpus "${CMAKE_CURRENT_BINARY_DIR}/corpus-${F_NAME}")
    file(MAKE_DIRECTORY "${work_corpus}")
    add_test(NAME ${F_NAME}
             COMMAND ${F_NAME} -max_total_time=20 -timeout=10 -rss_limit_mb=2048
                     -print_final_stats=1 "${work_corpus}" "${CMAKE_CURRENT_SOURCE_DIR}/corpus")
    set_tests_properties(${F_NAME} PROPERTIES LABELS fuzz TIMEOUT 120)
endfunction()
