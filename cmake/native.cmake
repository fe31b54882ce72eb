# Native build: the portable core with its unit tests, fuzzers and benchmarks.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(GTest REQUIRED)

file(GLOB NATIVE_PLATFORM_SOURCES CONFIGURE_DEPENDS src/native/*.cpp)
if(NATIVE_PLATFORM_SOURCES)
  add_library(vantile_native STATIC ${NATIVE_PLATFORM_SOURCES})
  target_link_libraries(vantile_native PUBLIC vantile_core OpenSSL::Crypto)
else()
  add_library(vantile_native INTERFACE)
  target_link_libraries(vantile_native INTERFACE vantile_core OpenSSL::Crypto)
endif()

if(NOT VANTILE_FUZZ AND NOT VANTILE_BENCH)
  file(GLOB NATIVE_TESTS CONFIGURE_DEPENDS tests/native/*_test.cpp)
  add_executable(vantile_native_tests ${NATIVE_TESTS})
  target_link_libraries(vantile_native_tests PRIVATE vantile_native GTest::gtest_main)
  target_compile_definitions(vantile_native_tests PRIVATE
    VANTILE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_test(NAME native_unit_tests COMMAND vantile_native_tests)
  set_tests_properties(native_unit_tests PROPERTIES LABELS native)
endif()

if(VANTILE_FUZZ)
  file(GLOB FUZZERS CONFIGURE_DEPENDS tests/fuzz/*_fuzz.cpp)
  foreach(source ${FUZZERS})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE vantile_core)
    add_test(NAME ${name}_smoke
      COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_smoke.py
        $<TARGET_FILE:${name}> ${CMAKE_SOURCE_DIR}/tests/data/json-vectors.tsv
        ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus 2000000)
    set_tests_properties(${name}_smoke PROPERTIES LABELS fuzz TIMEOUT 600)
  endforeach()
  target_compile_options(vantile_core PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
endif()

if(VANTILE_BENCH)
  find_package(benchmark REQUIRED)
  file(GLOB BENCHES CONFIGURE_DEPENDS tests/bench/*_bench.cpp)
  foreach(source ${BENCHES})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE vantile_native benchmark::benchmark)
  endforeach()
endif()
