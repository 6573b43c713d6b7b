# GTestWindows.cmake: GoogleTest for the Windows target, built from the
# sources that Debian's googletest package ships.
#
# The win32-thread MinGW has no std::mutex, which GoogleTest's thread-safe
# mode and its Windows death tests are built on.  Our unit tests run one
# thread and have no death tests, so a copy of the sources in the build
# folder is built without both.
include(${CMAKE_CURRENT_LIST_DIR}/PatchText.cmake)

set(gtest_src ${CMAKE_BINARY_DIR}/googletest-src)
set(gtest_port ${gtest_src}/googletest/include/gtest/internal/gtest-port.h)
if(NOT EXISTS ${gtest_port})
  file(COPY /usr/src/googletest/ DESTINATION ${gtest_src})
  patch_text(${gtest_port}
    "(GTEST_OS_WINDOWS_DESKTOP && _MSC_VER) || GTEST_OS_WINDOWS_MINGW ||"
    "(GTEST_OS_WINDOWS_DESKTOP && _MSC_VER) ||")
endif()

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_compile_definitions(GTEST_IS_THREADSAFE=0)
add_subdirectory(${gtest_src} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# A program's case list comes back from Wine with CRLF line ends, which the
# discovery does not take apart: each program is one test here.  Test
# programs live apart from ovrel.dll; Wine's search path leads to it.
function(gtest_discover_tests target)
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES ENVIRONMENT "WINEPATH=Z:${OVREL_BIN_DIR}")
endfunction()
