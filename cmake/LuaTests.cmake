# ovrel_lua_tests(PREFIX COMMAND...): one CTest test PREFIX.<name> for each
# script tests/lua/test_<name>.lua, run as COMMAND <script> from tests/lua
# with the module of this build.  Scripts named test_seam_* get the
# module's failing-heap twin instead (require "numhash.heapfail"); the two
# share the registry's metatable name, so never both in one process.
function(ovrel_lua_tests prefix)
  set(dir ${PROJECT_SOURCE_DIR}/tests/lua)
  file(GLOB scripts CONFIGURE_DEPENDS ${dir}/test_*.lua)
  foreach(script ${scripts})
    get_filename_component(name ${script} NAME_WE)
    if(name MATCHES "^test_seam_")
      set(cpath ${CMAKE_BINARY_DIR}/seam/?${CMAKE_SHARED_MODULE_SUFFIX})
    else()
      set(cpath ${OVREL_BIN_DIR}/?${CMAKE_SHARED_MODULE_SUFFIX})
    endif()
    add_test(NAME ${prefix}.${name} COMMAND ${ARGN} ${script} WORKING_DIRECTORY ${dir})
    set_tests_properties(${prefix}.${name} PROPERTIES ENVIRONMENT
      "LUA_CPATH=${cpath};LUA_PATH=${dir}/?.lua")
  endforeach()
endfunction()
