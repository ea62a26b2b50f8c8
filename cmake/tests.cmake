# GoogleTest from the distribution's sources, built with the same compiler
# and flags as the code under test (sanitizers included).
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# How long a test program may run before CTest ends it. Natively the
# slowest takes about 20 s (the settings tests under ThreadSanitizer), and a
# test that hangs should fail within minutes; under Wine every program start
# costs a second or more, and the tests on real trees take longer.
if(CMAKE_CROSSCOMPILING)
  set(READSWEEPER_TEST_TIMEOUT 300)
else()
  set(READSWEEPER_TEST_TIMEOUT 120)
endif()

# readsweeper_test(NAME sources... LIBS libs...): a test program, run once
# as a whole (under Wine each process start costs about a second).
function(readsweeper_test name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${READSWEEPER_TEST_TIMEOUT})
endfunction()
