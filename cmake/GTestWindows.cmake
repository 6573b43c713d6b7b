# GTestWindows.cmake: GoogleTest for the Windows target, built from the
# sources that Debian's googletest package ships.
#
# The win32-thread MinGW has no std::mutex, which GoogleTest's thread-safe
# mode and its Windows death tests are built on.  Our unit tests run one
# thread and have no death tests, so a copy of the sources is built without
# both: GTEST_IS_THREADSAFE=0 turns off the one, googletest-mingw.patch the
# other.
include(${CMAKE_CURRENT_LIST_DIR}/FetchPatched.cmake)
fetch_patched(googletest ${CMAKE_CURRENT_LIST_DIR}/googletest-mingw.patch
  URL /usr/src/googletest)

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_compile_definitions(GTEST_IS_THREADSAFE=0)
FetchContent_MakeAvailable(googletest)

# A program's case list comes back from Wine with CRLF line ends, which the
# discovery does not take apart: each program is one test here.  Test
# programs live apart from ovrel.dll; Wine's search path leads to it.
function(gtest_discover_tests target)
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES ENVIRONMENT "WINEPATH=Z:${OVREL_BIN_DIR}")
endfunction()
