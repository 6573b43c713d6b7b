# TestTimeouts.cmake: a time limit on every test, so a test that hangs fails
# by name within its limit instead of holding the whole run.
#
# ctest takes its default limit from the build folder's DartConfiguration.tcl;
# a test with a TIMEOUT of its own keeps that, and `ctest --timeout N`
# overrides the default.  Stages that run tests under a slow checker
# (valgrind, Wine) configure a larger OVREL_TEST_TIMEOUT.
set(OVREL_TEST_TIMEOUT 120 CACHE STRING "Seconds a test may run before it fails")
file(WRITE ${CMAKE_BINARY_DIR}/DartConfiguration.tcl "TimeOut: ${OVREL_TEST_TIMEOUT}\n")
