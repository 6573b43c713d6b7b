# FetchPatched.cmake: third-party sources unpacked in the build folder,
# with a patch of ours applied.
include(FetchContent)
find_program(PATCH_PROGRAM patch REQUIRED)

# fetch_patched(NAME PATCH ARGS...): FetchContent_Declare(NAME ARGS...),
# the sources then patched by the unified diff PATCH (-p1), which must
# apply exactly.  The patch step runs only on freshly unpacked sources, so
# they go into a folder named after the patch's hash: a changed patch gets
# a fresh copy, never a second patch over the first.
function(fetch_patched name patch)
  file(SHA256 ${patch} hash)
  string(SUBSTRING ${hash} 0 12 hash)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${patch})
  FetchContent_Declare(${name} ${ARGN}
    SOURCE_DIR ${FETCHCONTENT_BASE_DIR}/${name}-${hash}
    PATCH_COMMAND ${PATCH_PROGRAM} -p1 --fuzz=0 --forward --batch --quiet -i ${patch})
endfunction()
