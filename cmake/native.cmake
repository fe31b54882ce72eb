# Native build: the portable library with its unit tests, fuzzers and benchmarks, and the
# checks that keep the source tree in shape.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
# A publisher's build makes the tool alone, with no tests to link.
if(NOT VANTILE_MODE STREQUAL "publisher")
  find_package(GTest REQUIRED)
endif()

# Native stand-ins for the Windows-only parts (SHA-256 through OpenSSL, POSIX file reading).
file(GLOB NATIVE_PLATFORM_SOURCES CONFIGURE_DEPENDS src/native/*.cpp)
add_library(vantile_native STATIC ${NATIVE_PLATFORM_SOURCES})
target_link_libraries(vantile_native PUBLIC vantile_core OpenSSL::Crypto)

if(VANTILE_MODE STREQUAL "native")
  file(GLOB NATIVE_TESTS CONFIGURE_DEPENDS tests/native/*_test.cpp)
  add_executable(vantile_native_tests ${NATIVE_TESTS})
  target_link_libraries(vantile_native_tests PRIVATE vantile_native GTest::gtest_main)
  target_compile_definitions(vantile_native_tests PRIVATE
    VANTILE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_test(NAME native_unit_tests COMMAND vantile_native_tests)
  set_tests_properties(native_unit_tests PROPERTIES LABELS native)

  # The tree's own rules: which layer may include which, clang-format, pyflakes.
  add_test(NAME checks/layers
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/checks/check_layers.py ${CMAKE_SOURCE_DIR}/src)
  add_test(NAME checks/format
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/checks/check_format.py ${CMAKE_SOURCE_DIR})
  add_test(NAME checks/pyflakes
    COMMAND ${Python3_EXECUTABLE} -m pyflakes ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/scripts
      ${CMAKE_SOURCE_DIR}/resources)
  add_test(NAME checks/checkers
    COMMAND ${Python3_EXECUTABLE} -m unittest -v test_checks
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/checks)
  set_tests_properties(checks/layers checks/format checks/pyflakes checks/checkers
    PROPERTIES LABELS checks)
endif()

if(VANTILE_MODE STREQUAL "fuzz")
  file(GLOB FUZZERS CONFIGURE_DEPENDS tests/fuzz/*_fuzz.cpp)
  foreach(source ${FUZZERS})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE vantile_core)
    add_test(NAME ${name}_smoke
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_smoke.py
        $<TARGET_FILE:${name}> ${CMAKE_SOURCE_DIR}/tests/data/json-vectors.tsv
        ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus 2000000)
    set_tests_properties(${name}_smoke PROPERTIES LABELS fuzz TIMEOUT 600)
  endforeach()
  target_compile_options(vantile_core PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
endif()

# The benchmark programs: optimised for measuring (bench), and in the native build too, where
# the tests run each once on a tiny input so that none of them rots unseen.
if(VANTILE_MODE MATCHES "^(native|bench)$")
  find_package(benchmark REQUIRED)
  file(GLOB BENCHES CONFIGURE_DEPENDS tests/bench/*_bench.cpp)
  foreach(source ${BENCHES})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE vantile_native benchmark::benchmark)
  endforeach()
endif()

if(VANTILE_MODE STREQUAL "native")
  add_test(NAME bench-smoke
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/bench/bench_smoke.py native
      ${CMAKE_BINARY_DIR})
  set_tests_properties(bench-smoke PROPERTIES LABELS "native;bench" TIMEOUT 600)
endif()
