# vantile-release: makes and checks release manifests with the installer's own rules. It is
# built natively (SHA-256 through OpenSSL, archives read with libarchive) and for Windows
# (SHA-256 through CNG, archives unpacked by the installer's own steps), and nothing includes it.
file(GLOB RELEASE_TOOL_SOURCES CONFIGURE_DEPENDS src/release_tool/*.cpp)
list(REMOVE_ITEM RELEASE_TOOL_SOURCES ${CMAKE_SOURCE_DIR}/src/release_tool/main.cpp)
# What differs between the two hosts lives in one file each.
# The live check reads the release host through the installer's WinINet code on Windows, and
# through libcurl elsewhere.
if(WIN32)
  list(REMOVE_ITEM RELEASE_TOOL_SOURCES ${CMAKE_SOURCE_DIR}/src/release_tool/host_posix.cpp
    ${CMAKE_SOURCE_DIR}/src/release_tool/online_fetch_curl.cpp)
else()
  list(REMOVE_ITEM RELEASE_TOOL_SOURCES ${CMAKE_SOURCE_DIR}/src/release_tool/host_windows.cpp
    ${CMAKE_SOURCE_DIR}/src/release_tool/online_fetch_wininet.cpp)
endif()
add_library(vantile_release_tool STATIC ${RELEASE_TOOL_SOURCES})
if(WIN32)
  target_link_libraries(vantile_release_tool PUBLIC vantile_windows)
else()
  find_package(LibArchive REQUIRED)
  find_package(CURL REQUIRED)
  target_link_libraries(vantile_release_tool PUBLIC vantile_native LibArchive::LibArchive
    CURL::libcurl)
endif()

# A console program: its verdicts are read in a terminal or by scripts.
add_executable(vantile-release src/release_tool/main.cpp)
target_link_libraries(vantile-release PRIVATE vantile_release_tool)
if(WIN32)
  target_link_options(vantile-release PRIVATE -s)
endif()
# cmake --install build/publisher --prefix DIR puts it in DIR/bin.
install(TARGETS vantile-release RUNTIME DESTINATION bin)

if(TARGET vantile_native_tests)
  target_link_libraries(vantile_native_tests PRIVATE vantile_release_tool)
endif()
