# Lua51.cmake: the engine under the stand-in runtime, from the system.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/Lua51Windows.cmake)
  return()
endif()

find_path(LUA51_INCLUDE_DIR lua.h PATH_SUFFIXES lua5.1 REQUIRED)
find_library(LUA51_LIBRARY NAMES lua5.1 lua51 REQUIRED)
find_program(LUA51_INTERPRETER NAMES lua5.1)

add_library(lua51 INTERFACE)
target_include_directories(lua51 INTERFACE ${LUA51_INCLUDE_DIR})
target_link_libraries(lua51 INTERFACE ${LUA51_LIBRARY})
