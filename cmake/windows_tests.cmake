# Tests of the Windows build: the Win32 unit tests, the test-support programs, the end-to-end
# tests under Wine and the checks of the built program.
# GoogleTest from Debian's source, compiled with mingw.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB WINDOWS_TESTS CONFIGURE_DEPENDS tests/windows/*_test.cpp)
add_executable(vantile_windows_tests ${WINDOWS_TESTS} tests/windows/test_main.cpp)
target_link_libraries(vantile_windows_tests PRIVATE vantile_windows gtest)
add_test(NAME windows_unit_tests COMMAND vantile_windows_tests)
set_tests_properties(windows_unit_tests PROPERTIES LABELS wine)

add_subdirectory(tests/support)
# The planted DLL and the hardening probe that the tests of the release build's protections use.
add_subdirectory(tests/support/release)

# What the Python tests read of this build: its folders, its version and its delay-loaded DLLs.
set(VANTILE_TEST_ENVIRONMENT
  "VANTILE_BUILD_DIR=${CMAKE_BINARY_DIR};VANTILE_SOURCE_DIR=${CMAKE_SOURCE_DIR};VANTILE_VERSION=${PROJECT_VERSION};VANTILE_DELAY_LOADED_DLLS=${VANTILE_DELAY_LOADED_DLLS}")

# Every benchmark of the Windows build once on tiny sizes (no time asserted), so none of them
# rots unseen.
add_test(NAME bench-smoke
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/bench/bench_smoke.py wine)
set_tests_properties(bench-smoke PROPERTIES LABELS "wine;bench" TIMEOUT 1800
  ENVIRONMENT "${VANTILE_TEST_ENVIRONMENT}")

# One CTest test per Python test file of a folder, named folder/file; a file named test_slow_*
# is labelled slow too.
function(add_python_tests folder label timeout environment)
  file(GLOB scripts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${folder}/test_*.py)
  foreach(script ${scripts})
    get_filename_component(name ${script} NAME_WE)
    add_test(NAME ${folder}/${name}
      COMMAND ${Python3_EXECUTABLE} -m unittest -v ${name}
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/${folder})
    set(labels ${label} e2e)
    if(name MATCHES "^test_slow_")
      list(APPEND labels slow)
    endif()
    set_tests_properties(${folder}/${name} PROPERTIES
      LABELS "${labels}" TIMEOUT ${timeout} ENVIRONMENT "${environment}")
  endforeach()
endfunction()

# End-to-end tests: the real program under Wine, driven from Python.
add_python_tests(wine wine 1200 "${VANTILE_TEST_ENVIRONMENT}")

# Checks of the built program itself, outside Wine.
add_subdirectory(tests/build)

# vantile-release checking a live release (the native tool, through libcurl) against the
# release server and Debian's nginx; run with the test CA like the tests under Wine.
add_python_tests(online online 600 "VANTILE_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
