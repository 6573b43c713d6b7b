// scriptchunk.cpp: a script read as the launcher reads it.  Apart from
// the rest of the tool, which sees the engine's own headers, because the
// launcher's reader is written against the runtime's.
#include "scriptchunk.h"

#include "reader.h"


static void inmemory(State *S, const char *text, size_t len) {
  S->f = NULL;
  S->mem = text;
  S->size = len;
  skipline(S);
}


size_t launcherskip(const char *text, size_t len) {
  State S;
  inmemory(&S, text, len);
  return (size_t)(S.mem - text);
}


int launcherload(lua_State *L, const char *text, size_t len, const char *chunkname) {
  State S;
  inmemory(&S, text, len);
  return lua_load(L, myget, &S, chunkname);
}
