# The tests of the Windows build under Wine (tests/wine/suite), one CTest test
# for the whole suite, so that one Xvfb and one Wine prefix serve it. The
# Windows build itself is made by scripts/build-windows. Left out of the
# sanitized build: what it tests are the Windows programs, which a sanitized
# test driver would not check any further.
if(TESSEL_SANITIZE)
  return()
endif()
add_executable(test_wine ${CMAKE_SOURCE_DIR}/tests/wine/suite/wine_test.cpp)
target_include_directories(test_wine PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(test_wine PRIVATE GTest::gtest GTest::gtest_main)
target_compile_definitions(test_wine PRIVATE TESSEL_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                           TESSEL_BINARY_DIR="${CMAKE_BINARY_DIR}")
# The platform probe on the stand-ins; its Windows twin is platform-probe.exe.
add_executable(platform_probe ${CMAKE_SOURCE_DIR}/tests/wine/probe/probe.cpp)
target_include_directories(platform_probe PRIVATE ${CMAKE_SOURCE_DIR})
tessel_link(platform_probe tessel_backend_headless)
add_dependencies(test_wine tessel-render tessel-map platform_probe)
add_test(NAME wine COMMAND test_wine)
set_tests_properties(wine PROPERTIES TIMEOUT 900)
