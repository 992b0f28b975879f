# The host build: the core over the simulated PC, and the test layers that run
# on Linux (unit, sim, contract). Test sources are picked up per folder, so a
# new test file needs no change here.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
enable_testing()
include(GoogleTest)

add_subdirectory(platform/sim)

# The entry point is kept out of the core library so that the Windows
# executable can name it as its own source; the host tests link it here.
add_library(dozeward_entry STATIC app/winmain.cpp)
target_link_libraries(dozeward_entry PUBLIC dozeward_core)
target_link_libraries(dozeward_core PUBLIC dozeward_sim)

file(GLOB UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
# The operator's tool keeps its decisions (arguments, status text, the checks,
# the task definitions) free of the platform, so they are tested here with the
# core's pure functions.
set(DOZECTL_PURE_SOURCES
    ${CMAKE_SOURCE_DIR}/tools/dozectl_args.cpp
    ${CMAKE_SOURCE_DIR}/tools/dozectl_check.cpp
    ${CMAKE_SOURCE_DIR}/tools/dozectl_status.cpp
    ${CMAKE_SOURCE_DIR}/tools/dozectl_task.cpp
    ${CMAKE_SOURCE_DIR}/tools/dozectl_text.cpp
    ${CMAKE_SOURCE_DIR}/app/utc_time.cpp)
add_executable(unit_tests ${UNIT_TEST_SOURCES} ${DOZECTL_PURE_SOURCES})
target_link_libraries(unit_tests PRIVATE dozeward_entry GTest::gtest_main)
gtest_discover_tests(unit_tests TEST_PREFIX "unit." DISCOVERY_TIMEOUT 60)

file(GLOB SIM_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/sim/*.cpp)
add_executable(sim_tests ${SIM_TEST_SOURCES})
target_link_libraries(sim_tests PRIVATE dozeward_entry GTest::gtest_main GTest::gmock)
gtest_discover_tests(sim_tests TEST_PREFIX "sim." DISCOVERY_TIMEOUT 60)

file(GLOB CONTRACT_HOST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/contract/*.cpp)
list(FILTER CONTRACT_HOST_SOURCES EXCLUDE REGEX ".*_win32\\.cpp$")
add_executable(contract_tests ${CONTRACT_HOST_SOURCES})
target_link_libraries(contract_tests PRIVATE dozeward_sim GTest::gtest_main)
target_include_directories(contract_tests PRIVATE ${CMAKE_SOURCE_DIR} ${DOZEWARD_PLATFORM_DIR})
# The checks are parameters named by a generator; their values are pointers,
# which would make the test names change from one build to the next.
gtest_discover_tests(contract_tests TEST_PREFIX "contract.sim." DISCOVERY_TIMEOUT 60
                     NO_PRETTY_VALUES)
add_subdirectory(tests/fuzz)

# Benchmarks print figures; they are run by hand, not by CTest.
add_executable(log_prepend_bench ${CMAKE_SOURCE_DIR}/bench/log_prepend_bench.cpp)
target_link_libraries(log_prepend_bench PRIVATE dozeward_entry)

# Hygiene: layout and clang-tidy, as tests so that CI fails on them. The tidy
# check reads this build's compile_commands.json (the host preset exports it).
add_test(NAME hygiene.format COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-format.sh)
add_test(NAME hygiene.tidy COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-tidy.sh ${CMAKE_BINARY_DIR})
set_tests_properties(hygiene.tidy PROPERTIES TIMEOUT 300)
