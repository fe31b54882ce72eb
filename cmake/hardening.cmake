# Release-build settings of the Windows program, for every target of the mingw build:
#  - no DLL from the program's own folder: only KnownDLLs are imported directly, every other
#    system DLL through a delay-import library, bound from System32 once the program has
#    restricted the DLL search (src/windows/system_libraries.cpp);
#  - hardening: stack protector and fortified string functions, ASLR and DEP flags;
#  - a reproducible file: no time stamp, no build paths; the build prints its SHA-256.
# Included before the targets are made; the flags below are directory-wide, and CMake uses
# their value at the end of the directory for every target in it.

# -- Delay-import libraries ------------------------------------------------------------------
# wininet, bcrypt and comctl32 are not KnownDLLs, so Windows would look for them in the
# program's folder first. Targets of those names stand in for the system import libraries
# everywhere in this build: the imports then go into the delay-import table, and the DLL is
# loaded on first use (or by bind_system_libraries) with the search already restricted.
set(VANTILE_DELAY_LOADED_LIBRARIES wininet bcrypt comctl32 ole32)
find_program(VANTILE_DLLTOOL x86_64-w64-mingw32-dlltool REQUIRED)
find_program(VANTILE_NM x86_64-w64-mingw32-nm REQUIRED)
set(delay_folder ${CMAKE_BINARY_DIR}/delay-import)
file(MAKE_DIRECTORY ${delay_folder})
foreach(library ${VANTILE_DELAY_LOADED_LIBRARIES})
  unset(system_import_library)
  find_library(system_import_library ${library} NO_CACHE REQUIRED)
  # The exports that mingw's own import library lists, named by the DLL it names.
  execute_process(COMMAND ${VANTILE_DLLTOOL} --identify ${system_import_library}
    OUTPUT_VARIABLE dll_name OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${VANTILE_NM} ${system_import_library}
    OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[^\n]* I __imp_[^\n]*" imports "${symbols}")
  list(TRANSFORM imports REPLACE ".* I __imp_" "")
  list(REMOVE_DUPLICATES imports)
  list(SORT imports)
  string(TOLOWER "${dll_name}" dll_name)
  list(JOIN imports "\n" export_lines)
  file(WRITE ${delay_folder}/${library}.def "LIBRARY ${dll_name}\nEXPORTS\n${export_lines}\n")
  # A fixed temporary prefix: dlltool's default one holds its process id.
  execute_process(COMMAND ${VANTILE_DLLTOOL} --input-def ${library}.def
      --output-delaylib libdelay_${library}.a --temp-prefix delay_${library}
    WORKING_DIRECTORY ${delay_folder} COMMAND_ERROR_IS_FATAL ANY)
  add_library(${library} STATIC IMPORTED GLOBAL)
  set_target_properties(${library} PROPERTIES
    IMPORTED_LOCATION ${delay_folder}/libdelay_${library}.a)
  string(APPEND delay_loaded_list "DELAY_LOADED(${library})")
endforeach()
# bind_system_libraries finds each library's import descriptor through this list.
add_compile_definitions("VANTILE_DELAY_LOADED_LIBRARIES=${delay_loaded_list}")

# -- Hardening -------------------------------------------------------------------------------
# -fstack-protector-strong also reaches the link line (CMake passes the compile flags there),
# where the driver adds libssp, linked statically like everything else: it holds the checked
# functions that mingw-w64's headers call for _FORTIFY_SOURCE when optimising. The program
# brings its own canary and failure handlers (src/shell/stack_protection.cpp), so libssp's
# canary set-up, which runs before wWinMain through CryptAcquireContextA, is not linked in;
# the test programs keep libssp's.
set(hardening_flags "-fstack-protector-strong -D_FORTIFY_SOURCE=2")
# ASLR with high entropy, and DEP: ld's defaults, written down so they stay.
string(APPEND CMAKE_EXE_LINKER_FLAGS
  " -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat")
string(APPEND CMAKE_SHARED_LINKER_FLAGS
  " -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat")

# -- Reproducible output ---------------------------------------------------------------------
# No build folder in the binary (__FILE__, debug paths): the later map wins, and the build
# folder may lie inside the source folder.
set(reproducible_flags
  "-ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=build/")
string(APPEND CMAKE_C_FLAGS " ${hardening_flags} ${reproducible_flags}")
string(APPEND CMAKE_CXX_FLAGS " ${hardening_flags} ${reproducible_flags}")
# No link time in the PE header; the checksum then depends on the bytes alone.
string(APPEND CMAKE_EXE_LINKER_FLAGS " -Wl,--no-insert-timestamp")
string(APPEND CMAKE_SHARED_LINKER_FLAGS " -Wl,--no-insert-timestamp")

# Run once the program's target exists (at the end of this directory).
function(vantile_program_settings)
  # The link map with its cross references shows which objects check the canary and which
  # fortified functions are in (read by tests/build/test_pe_header.py).
  target_link_options(vantile-install PRIVATE
    -Wl,-Map=$<TARGET_FILE_DIR:vantile-install>/vantile-install.map -Wl,--cref)
  # The SHA-256 after each link, so a publisher can compare a released file with a rebuild.
  add_custom_command(TARGET vantile-install POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E echo "SHA-256 of vantile-install.exe:"
    COMMAND ${CMAKE_COMMAND} -E sha256sum $<TARGET_FILE_NAME:vantile-install>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:vantile-install>
    VERBATIM)
endfunction()
cmake_language(DEFER CALL vantile_program_settings)

# The planted DLL and the hardening probe that the tests of these protections use.
add_subdirectory(tests/support/release)

# Checks of the built file itself, outside Wine; the reproducibility test builds the program
# twice more from scratch.
foreach(name test_pe_header test_reproducible_build)
  add_test(NAME build/${name}
    COMMAND ${Python3_EXECUTABLE} -m unittest -v ${name}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/build)
  set_tests_properties(build/${name} PROPERTIES
    LABELS build
    TIMEOUT 3600
    ENVIRONMENT "VANTILE_BUILD_DIR=${CMAKE_BINARY_DIR};VANTILE_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endforeach()
set_property(TEST build/test_reproducible_build APPEND PROPERTY LABELS slow)
