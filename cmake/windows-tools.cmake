# tessel-map.exe for Windows authors: the map compiler and the Tiled importer
# with pugixml and zstd built for the target from Debian's source packages
# (scripts/build-windows), zlib and libpng as tessel.exe has them, and the
# header-only nlohmann-json and stb from the build machine's Debian packages.
find_package(pugixml CONFIG)
find_package(zstd CONFIG)
if(NOT pugixml_FOUND OR NOT zstd_FOUND)
  message(WARNING "tessel-map.exe is not built: pugixml or zstd for the target is missing (scripts/build-windows builds them)")
  return()
endif()

# The header-only libraries, seen through a folder of their own so that no
# other header of the build machine reaches the target's compiler.
set(_headers ${CMAKE_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${_headers})
file(CREATE_LINK /usr/include/nlohmann ${_headers}/nlohmann SYMBOLIC)
file(CREATE_LINK /usr/include/stb/stb_image.h ${_headers}/stb_image.h SYMBOLIC)
# Debian's stb package ships the implementation as a shared library; here it
# is compiled in, without the project's warning flags (it is not our code).
file(WRITE ${CMAKE_BINARY_DIR}/stb_image.c "#define STB_IMAGE_IMPLEMENTATION\n#include <stb_image.h>\n")
add_library(tessel_stb STATIC ${CMAKE_BINARY_DIR}/stb_image.c)
target_include_directories(tessel_stb SYSTEM PUBLIC ${_headers})
target_compile_options(tessel_stb PRIVATE -w)

file(GLOB _map_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/tessel-map/*.cpp
     ${CMAKE_SOURCE_DIR}/tools/tessel-map/import/*.cpp ${CMAKE_SOURCE_DIR}/tools/lib/*.cpp)
add_library(tessel_tool_main STATIC ${CMAKE_SOURCE_DIR}/platform/windows/tools/main.cpp)
add_executable(tessel-map ${_map_srcs})
target_include_directories(tessel-map PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(tessel-map PRIVATE -include ${CMAKE_SOURCE_DIR}/platform/windows/tools/posix.h)
target_link_libraries(tessel-map PRIVATE tessel_tool_main pugixml::pugixml zstd::libzstd_static tessel_stb PNG::PNG ZLIB::ZLIB)
