// engine.cpp: telling the engine a process runs, and refusing another one.
#include "engine.h"

#include <dlfcn.h>
#include <stdio.h>

/* The engine the process runs, as a LUA_VERSION_NUM (LuaJIT's is 501). */
static int engine_running(void) {
  /* Each mark names a function the engines before it lack; whatever holds
  ** a state and has none of them offers 5.1's interface (5.1, LuaJIT). */
  static const struct { const char *function; int engine; } marks[] = {
      {"lua_newuserdatauv", 504}, {"lua_rotate", 503}, {"lua_callk", 502},
  };
  for (const auto &m : marks)
    if (dlsym(RTLD_DEFAULT, m.function) != nullptr) return m.engine;
  return 501;
}


void engine_require(lua_State *L) {
  static int own = -1;  /* a process runs one engine: asked once */
  if (own < 0) {
    void *const functions[] = ENGINE_OWN;
    own = 1;
    for (void *f : functions)
      if (f == nullptr) own = 0;
  }
  if (own) return;
  int engine = engine_running();
  char wanted[32], msg[192];
  snprintf(wanted, sizeof wanted, "Lua %d.%d", engine / 100, engine % 100);
  /* LuaJIT answers to 5.1's name and loads 5.1's module */
  bool jit = dlsym(RTLD_DEFAULT, "luaJIT_setmode") != nullptr;
  snprintf(msg, sizeof msg,
           "this module was built for Lua %d.%d and cannot run on %s: load the one built for %s",
           OVREL_LUA / 100, OVREL_LUA % 100, jit ? "LuaJIT" : wanted, wanted);
  lua_pushstring(L, msg);  /* both the same on every engine */
  lua_error(L);
}
