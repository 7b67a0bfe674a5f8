# The Windows build (mingw-w64): the Parts over the real Win32, DirectDraw 7,
# DirectInput 7, GDI and winmm. platform/windows/ replaces the stand-ins and
# their backends; its include/ folder comes before the source root, so the
# Parts' "platform/..." headers are the bridges to the real headers.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
find_package(PNG REQUIRED)

# Everything static, the C and C++ runtimes and winpthreads included.
add_link_options(-static -static-libgcc -static-libstdc++ $<$<CONFIG:Release,MinSizeRel>:-s>)

set(TESSEL_WIN_INCLUDES ${CMAKE_SOURCE_DIR}/platform/windows/include ${CMAKE_SOURCE_DIR})
function(tessel_windows_library name)
  file(GLOB srcs CONFIGURE_DEPENDS ${ARGN})
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} BEFORE PUBLIC ${TESSEL_WIN_INCLUDES})
endfunction()

tessel_windows_library(tessel_platform_windows platform/windows/*.cpp)
tessel_windows_library(tessel_runtime runtime/*.cpp)
tessel_windows_library(tessel_screen screen/*.cpp)
tessel_windows_library(tessel_input input/*.cpp)
tessel_windows_library(tessel_errors errors/*.cpp)
tessel_windows_library(tessel_app app/*.cpp)
get_target_property(_app_sources tessel_app SOURCES)
list(FILTER _app_sources EXCLUDE REGEX ".*/app/main\\.cpp$")
set_target_properties(tessel_app PROPERTIES SOURCES "${_app_sources}")
target_link_libraries(tessel_screen PUBLIC PNG::PNG ZLIB::ZLIB)

set(TESSEL_CORE tessel_app tessel_runtime tessel_screen tessel_input tessel_errors tessel_platform_windows)
# DirectDraw and DirectInput are loaded at run time; dxguid holds their GUIDs.
function(tessel_windows_link target)
  target_link_libraries(${target} PRIVATE "$<LINK_GROUP:RESCAN,${TESSEL_CORE}>"
                        PNG::PNG ZLIB::ZLIB dxguid winmm gdi32 user32)
endfunction()

add_executable(tessel WIN32 app/main.cpp)
tessel_windows_link(tessel)

# The test build: tessel with a fault hook, for the tests under Wine.
add_executable(tessel-fault tests/wine/fault/fault_main.cpp)
target_include_directories(tessel-fault BEFORE PRIVATE ${TESSEL_WIN_INCLUDES})
tessel_windows_link(tessel-fault)

# What the Wine tests start programs through: it prints the exit code
# Windows keeps for the program.
add_executable(exit-code tests/wine/exitcode/exit_code_main.cpp)

# The platform probe (x86-64 code): the same calls on Linux against the
# stand-ins, here against the real interfaces; the Wine tests compare them.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_executable(platform-probe tests/wine/probe/probe.cpp)
  target_include_directories(platform-probe BEFORE PRIVATE ${TESSEL_WIN_INCLUDES})
  tessel_windows_link(platform-probe)
endif()

option(TESSEL_WINDOWS_TOOLS "Build tessel-map.exe (needs pugixml and zstd for the target)" ON)
if(TESSEL_WINDOWS_TOOLS)
  include(${CMAKE_CURRENT_LIST_DIR}/windows-tools.cmake)
endif()
