# Lua51.cmake: the engine under the stand-in runtime, from the system.
#
# On Linux a process holds one engine, that of the program it runs: the
# interpreter, or a program of ours that links it.  Libraries and modules
# take the engine's headers only (lua51_headers) and leave lua_* undefined
# for the process to supply; only executables link the engine (lua51).  The
# standalone launcher carries the whole engine (lua51_static): every member
# of the archive, since a module may call what the launcher never does.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/Lua51Windows.cmake)
  return()
endif()

find_path(LUA51_INCLUDE_DIR lua.h PATH_SUFFIXES lua5.1 REQUIRED)
find_library(LUA51_LIBRARY NAMES lua5.1 lua51 REQUIRED)
find_program(LUA51_INTERPRETER NAMES lua5.1)

add_library(lua51_headers INTERFACE)
target_include_directories(lua51_headers INTERFACE ${LUA51_INCLUDE_DIR})

add_library(lua51 INTERFACE)
target_link_libraries(lua51 INTERFACE lua51_headers ${LUA51_LIBRARY})

find_library(LUA51_STATIC_LIBRARY NAMES liblua5.1.a REQUIRED)
add_library(lua51_static INTERFACE)
target_link_libraries(lua51_static INTERFACE lua51_headers
  "$<LINK_LIBRARY:WHOLE_ARCHIVE,${LUA51_STATIC_LIBRARY}>" ${CMAKE_DL_LIBS} m)
