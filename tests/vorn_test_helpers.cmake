# vorn_add_gtest(NAME SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [ENV ...] [HOSTED] [EACH_CASE s])
# One GoogleTest program, run as one ctest entry (under Wine in the Windows builds).
# HOSTED: the program loads the driver DLL and so plays the host application.
# WRAPPER: a command that runs the program (for instance with simulated devices).
# EACH_CASE: under Wine, every case in a process of its own (at most s seconds
# each), listed by the program itself when the test runs.
function(vorn_add_gtest name)
  cmake_parse_arguments(T "HOSTED" "TIMEOUT;EACH_CASE" "SOURCES;LIBS;LABELS;ENV;WRAPPER" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(WIN32 AND T_HOSTED)
    target_link_libraries(${name} PRIVATE vorn_test_host)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} vorn_test_common GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/include ${CMAKE_SOURCE_DIR}/tests)
  vorn_warnings(${name})
  if(WIN32 AND NOT VORN_WINE_USABLE)
    return()  # built, so the Windows sources keep compiling, but not run on this machine
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(T_EACH_CASE AND WIN32)
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tests/win32/run-each-case.sh ${T_EACH_CASE} ${T_WRAPPER}
                                  ${CMAKE_SOURCE_DIR}/tests/win32/run-wine.sh $<TARGET_FILE:${name}> --gtest_color=no)
  elseif(T_WRAPPER AND WIN32)
    add_test(NAME ${name} COMMAND ${T_WRAPPER} ${CMAKE_SOURCE_DIR}/tests/win32/run-wine.sh $<TARGET_FILE:${name}> --gtest_color=no)
  elseif(T_WRAPPER)
    add_test(NAME ${name} COMMAND ${T_WRAPPER} $<TARGET_FILE:${name}> --gtest_color=no)
  else()
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  endif()
  set(env ${T_ENV})
  if(WIN32)
    list(APPEND env "WINEPREFIX=${VORN_WINEPREFIX}" "VORN_WINE_BITS=${VORN_WINE_BITS}")
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}" ENVIRONMENT "${env}")
endfunction()
