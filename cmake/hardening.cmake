# Release-build settings of the Windows program. The first three hold for every target of the
# mingw build (the program, its libraries, the test programs):
#  - no DLL from the program's own folder: only KnownDLLs are imported directly, every other
#    system DLL through a delay-import library, bound from System32 once the program has
#    restricted the DLL search (src/windows/system_libraries.cpp);
#  - hardening: stack protector and fortified string functions, ASLR and DEP flags;
#  - a reproducible file: no time stamp, no build paths.
# Included before any target is made: each setting holds for the targets made after it. The
# program's own settings (its link map, the SHA-256 printed after each link) are the function
# at the end, which windows.cmake calls right after the program's add_executable.

# -- Delay-import libraries ------------------------------------------------------------------
# wininet, bcrypt and comctl32 are not KnownDLLs, so Windows would look for them in the
# program's folder first. ole32 is a KnownDLL, but every system DLL beyond the four the
# loader binds goes the same one way, so the DLL-planting test covers it too. Targets of
# those names stand in for the system import libraries
# everywhere in this build: the imports then go into the delay-import table, and the DLL is
# loaded on first use (or by bind_system_libraries) with the search already restricted.
# The one list of them: a new system DLL is one more name here. The code and the C++ tests
# read it through the compile definition below, the Python tests through CTest's environment
# (VANTILE_DELAY_LOADED_DLLS, the DLLs' file names).
set(VANTILE_DELAY_LOADED_LIBRARIES wininet bcrypt comctl32 ole32)
set(VANTILE_DELAY_LOADED_DLLS "")
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
  list(APPEND VANTILE_DELAY_LOADED_DLLS ${dll_name})
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
# Spaces between the names: CTest's environment list is separated by semicolons.
list(JOIN VANTILE_DELAY_LOADED_DLLS " " VANTILE_DELAY_LOADED_DLLS)

# -- Hardening -------------------------------------------------------------------------------
# On the link line, -fstack-protector-strong makes the driver add libssp, linked statically like
# everything else: it holds the checked functions that mingw-w64's headers call for
# _FORTIFY_SOURCE when optimising. The program brings its own canary and failure handlers
# (src/shell/stack_protection.cpp), so libssp's canary set-up, which runs before wWinMain
# through CryptAcquireContextA, is not linked in; the test programs keep libssp's.
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong;-D_FORTIFY_SOURCE=2>")
add_link_options(-fstack-protector-strong)
# ASLR with high entropy, and DEP: ld's defaults, written down so they stay.
add_link_options(-Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat)

# -- Reproducible output ---------------------------------------------------------------------
# No build folder in the binary (__FILE__, debug paths): the later map wins, and the build
# folder may lie inside the source folder.
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=;-ffile-prefix-map=${CMAKE_BINARY_DIR}/=build/>")
# No link time in the PE header; the checksum then depends on the bytes alone.
add_link_options(-Wl,--no-insert-timestamp)

# The program's own settings, applied right after its add_executable (vantile-install only).
function(vantile_program_settings program)
  # The link map with its cross references shows which objects check the canary and which
  # fortified functions are in (read by tests/build/test_pe_header.py).
  target_link_options(${program} PRIVATE
    -Wl,-Map=$<TARGET_FILE_DIR:${program}>/${program}.map -Wl,--cref)
  # The SHA-256 after each link, so a publisher can compare a released file with a rebuild.
  add_custom_command(TARGET ${program} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E echo "SHA-256 of ${program}.exe:"
    COMMAND ${CMAKE_COMMAND} -E sha256sum $<TARGET_FILE_NAME:${program}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${program}>
    VERBATIM)
endfunction()
