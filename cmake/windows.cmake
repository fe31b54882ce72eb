# Windows build: the program, its Win32 unit tests and the test-support programs.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
add_link_options(-static -static-libgcc -static-libstdc++ -municode)
include(cmake/hardening.cmake)

# The Win32 library: windows/ and ui/ outside their portable/ folders.
file(GLOB WINDOWS_SOURCES CONFIGURE_DEPENDS src/windows/*.cpp src/ui/*.cpp)
add_library(vantile_windows STATIC ${WINDOWS_SOURCES})
target_link_libraries(vantile_windows PUBLIC vantile_core wininet bcrypt comctl32 ole32 ntdll)

# The shell wires the layers together into the program.
file(GLOB SHELL_SOURCES CONFIGURE_DEPENDS src/shell/*.cpp)
add_executable(vantile-install WIN32 ${SHELL_SOURCES} resources/vantile-install.rc)
target_include_directories(vantile-install PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(vantile-install PRIVATE vantile_windows)
target_link_options(vantile-install PRIVATE -s)

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

# End-to-end tests: the real program under Wine, driven from Python.
file(GLOB WINE_TESTS CONFIGURE_DEPENDS tests/wine/test_*.py)
foreach(script ${WINE_TESTS})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME wine/${name}
    COMMAND ${Python3_EXECUTABLE} -m unittest -v ${name}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/wine)
  set(labels wine e2e)
  if(name MATCHES "^test_slow_")
    list(APPEND labels slow)
  endif()
  set_tests_properties(wine/${name} PROPERTIES
    LABELS "${labels}"
    TIMEOUT 1200
    ENVIRONMENT "VANTILE_BUILD_DIR=${CMAKE_BINARY_DIR};VANTILE_SOURCE_DIR=${CMAKE_SOURCE_DIR};VANTILE_VERSION=${PROJECT_VERSION}")
endforeach()
