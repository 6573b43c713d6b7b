-- numhash-scm-1.rockspec: `luarocks make` in a clone builds the project with
-- CMake and installs the module into a LuaRocks tree, for the engine that
-- LuaRocks builds for (--lua-version=5.1 to 5.4); for 5.1, the launcher and
-- the glue tool too.  The version lives in CMakeLists.txt; "scm" is this clone.
rockspec_format = "3.0"
package = "numhash"
version = "scm-1"

source = {
   -- Built from the clone it lies in; nothing is fetched.
   url = "git+file://.",
}

description = {
   summary = "A map from numbers to strings for Lua 5.1 to 5.4, and a launcher of self-running scripts",
   detailed = [[
numhash gives scripts a map from numbers (double keys) to strings over an
open-addressing hash table whose placement, and so iteration order, is fixed.
ovrelrun runs a script glued to a copy of itself; ovrelglue makes such programs.
]],
}

dependencies = {
   "lua >= 5.1, < 5.5",
}

build = {
   type = "cmake",
   variables = {
      CMAKE_BUILD_TYPE = "Release",
      CMAKE_INSTALL_PREFIX = "$(PREFIX)",
      OVREL_TESTS = "OFF",
      -- The engine is the one whose lua.h lies there.
      LUA_INCLUDE_DIR = "$(LUA_INCDIR)",
      -- LuaRocks moves the rock's lib/ to the tree's lib/lua/5.x: the
      -- runtime library goes there beside the module, which finds it
      -- through $ORIGIN, and (5.1 only) the launcher and the glue tool name
      -- that folder relative to the tree's bin/.  Headers and build files
      -- have no place there.
      OVREL_LUA_MODULE_DIR = "lib",
      CMAKE_INSTALL_LIBDIR = "lib",
      OVREL_RUNTIME_DEPLOYED_DIR = "lib/lua/5.1",
      OVREL_MODULE_DEPLOYED_DIR = "lib/lua/5.1",
      OVREL_INSTALL_DEVELOPMENT = "OFF",
   },
}
