// engine.cpp: telling the engine a process runs, and refusing another one.
#include "engine.h"

#include <dlfcn.h>
#include <stdio.h>

int engine_running(void) {
  /* Each test names a function the engines before it lack. */
  static const struct { const char *function; int engine; } marks[] = {
      {"lua_newuserdatauv", 504}, {"lua_rotate", 503}, {"lua_callk", 502},
      {"lua_setfenv", 501},
  };
  for (const auto &m : marks)
    if (dlsym(RTLD_DEFAULT, m.function) != nullptr) return m.engine;
  return 0;
}


/* "Lua 5.3", "LuaJIT", or a phrase for an engine that cannot be told. */
static void name(char *buff, size_t size, int engine) {
  if (engine == 501 && dlsym(RTLD_DEFAULT, "luaJIT_setmode") != nullptr)
    snprintf(buff, size, "LuaJIT");
  else if (engine != 0)
    snprintf(buff, size, "Lua %d.%d", engine / 100, engine % 100);
  else
    snprintf(buff, size, "another Lua engine");
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
  char built[32], running[32], msg[256];
  name(built, sizeof built, OVREL_LUA);
  name(running, sizeof running, engine_running());
  snprintf(msg, sizeof msg,
           "this module was built for %s and cannot run on %s: load the one built for %s",
           built, running, running);
  lua_pushstring(L, msg);  /* both the same on every engine */
  lua_error(L);
}
