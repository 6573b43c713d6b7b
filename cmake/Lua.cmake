# Lua.cmake: the engine under the stand-in runtime, from the system.
#
# OVREL_LUA picks the engine: 5.1 (the default, which LuaJIT also loads),
# 5.2, 5.3 or 5.4.  A build holds one engine; each installs beside the
# others.  Given LUA_INCLUDE_DIR alone (LuaRocks passes its include folder),
# the engine is the one whose lua.h lies there.
#
# On Linux a process holds one engine, that of the program it runs: the
# interpreter, or a program of ours that links it.  Libraries and modules
# take the engine's headers only (lua_headers) and leave lua_* undefined
# for the process to supply; only executables link the engine (lua_engine).
# The standalone launcher carries the whole engine (lua_static): every
# member of the archive, since a module may call what the launcher never does.
set(ovrel_engines 5.1 5.2 5.3 5.4)

# lua_header_engine(DIR VAR): VAR is the engine of DIR/lua.h, as "5.3".
function(lua_header_engine dir var)
  file(STRINGS ${dir}/lua.h num REGEX "^#define[ \t]+LUA_VERSION_NUM[ \t]+[0-9]+")
  string(REGEX REPLACE ".*([0-9])0([0-9])$" "\\1.\\2" num "${num}")
  set(${var} ${num} PARENT_SCOPE)
endfunction()

if(NOT DEFINED OVREL_LUA AND LUA_INCLUDE_DIR AND EXISTS ${LUA_INCLUDE_DIR}/lua.h)
  lua_header_engine(${LUA_INCLUDE_DIR} engine)
  if(engine IN_LIST ovrel_engines)
    set(OVREL_LUA ${engine} CACHE STRING "Lua engine to build for: ${ovrel_engines}")
  endif()
endif()
set(OVREL_LUA 5.1 CACHE STRING "Lua engine to build for: ${ovrel_engines}")
set_property(CACHE OVREL_LUA PROPERTY STRINGS ${ovrel_engines})
if(NOT OVREL_LUA IN_LIST ovrel_engines)
  message(FATAL_ERROR "OVREL_LUA is ${OVREL_LUA}: it must be one of ${ovrel_engines}")
endif()
string(REPLACE "." "0" OVREL_LUA_NUM ${OVREL_LUA})  # 5.3 -> 503, as LUA_VERSION_NUM
# The 5.1 build is the reference: the launcher, the tool and their tests.
if(OVREL_LUA STREQUAL "5.1")
  set(OVREL_REFERENCE_ENGINE ON)
else()
  set(OVREL_REFERENCE_ENGINE OFF)
endif()

if(WIN32)
  if(NOT OVREL_REFERENCE_ENGINE)
    message(FATAL_ERROR "Windows builds are for Lua 5.1 only")
  endif()
  include(${CMAKE_CURRENT_LIST_DIR}/Lua51Windows.cmake)
  return()
endif()

find_path(LUA_INCLUDE_DIR lua.h PATH_SUFFIXES lua${OVREL_LUA} REQUIRED)
lua_header_engine(${LUA_INCLUDE_DIR} engine)
if(NOT engine STREQUAL OVREL_LUA)
  message(FATAL_ERROR "${LUA_INCLUDE_DIR}/lua.h is not Lua ${OVREL_LUA}'s "
                      "(install liblua${OVREL_LUA}-dev or set LUA_INCLUDE_DIR)")
endif()
find_library(LUA_LIBRARY NAMES lua${OVREL_LUA} lua${OVREL_LUA_NUM} REQUIRED)
find_program(LUA_INTERPRETER NAMES lua${OVREL_LUA})

add_library(lua_headers INTERFACE)
target_include_directories(lua_headers INTERFACE ${LUA_INCLUDE_DIR})

add_library(lua_engine INTERFACE)
target_link_libraries(lua_engine INTERFACE lua_headers ${LUA_LIBRARY})
target_compile_definitions(lua_engine INTERFACE OVREL_LINKS_ENGINE)

if(OVREL_REFERENCE_ENGINE)
  find_library(LUA_STATIC_LIBRARY NAMES liblua5.1.a REQUIRED)
  add_library(lua_static INTERFACE)
  target_link_libraries(lua_static INTERFACE lua_headers
    "$<LINK_LIBRARY:WHOLE_ARCHIVE,${LUA_STATIC_LIBRARY}>" ${CMAKE_DL_LIBS} m)
  target_compile_definitions(lua_static INTERFACE OVREL_LINKS_ENGINE)
endif()
