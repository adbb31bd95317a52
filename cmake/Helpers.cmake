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
