# Windows build: the Win32 library and the program, made with the release settings of
# cmake/hardening.cmake, which CMakeLists.txt applies before the first target (the tests are
# wired in cmake/windows_tests.cmake).
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
add_link_options(-static -static-libgcc -static-libstdc++ -municode)

# The Win32 library: windows/ and ui/ outside their portable/ folders.
file(GLOB WINDOWS_SOURCES CONFIGURE_DEPENDS src/windows/*.cpp src/ui/*.cpp)
add_library(vantile_windows STATIC ${WINDOWS_SOURCES})
target_link_libraries(vantile_windows PUBLIC vantile_core ${VANTILE_DELAY_LOADED_LIBRARIES} ntdll)

# The shell wires the layers together into the program.
file(GLOB SHELL_SOURCES CONFIGURE_DEPENDS src/shell/*.cpp)
add_executable(vantile-install WIN32 ${SHELL_SOURCES} resources/vantile-install.rc)
target_include_directories(vantile-install PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(vantile-install PRIVATE vantile_windows)
target_link_options(vantile-install PRIVATE -s)
vantile_program_settings(vantile-install)
