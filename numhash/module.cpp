// module.cpp: the opening function and the two registration tables.
#include "map.h"

static const luaL_Reg metamethods[] = {
    {"__index", numhash_mm_index},
    {"__writeindex", numhash_include},
    {"__size", numhash_mm_size},
    {"__empty", numhash_mm_empty},
    {"__filled", numhash_mm_filled},
    {"__in", numhash_mm_in},
    {"__notin", numhash_mm_notin},
    {"__tostring", numhash_mm_tostring},
    {"__gc", numhash_mm_gc},
    {nullptr, nullptr},
};

static const luaL_Reg functions[] = {
    {"attrib", numhash_attrib},
    {"cleanse", numhash_cleanse},
    {"getitem", numhash_getitem},
    {"has", numhash_has},
    {"include", numhash_include},
    {"iterate", numhash_iterate},
    {"new", numhash_new},
    {"purge", numhash_purge},
    {"resize", numhash_resize},
    {"totable", numhash_totable},
    {nullptr, nullptr},
};


NUMHASH_EXPORT int luaopen_numhash(lua_State *L) {
  luaL_newmetatable(L, NUMHASH_TYPE);      /* mt */
  lua_pushvalue(L, -1);                    /* mt mt */
  lua_setfield(L, -2, "__index");          /* mt; replaced just below */
  luaL_register(L, nullptr, metamethods);  /* mt */
  luaL_register(L, "numhash", functions);  /* mt numhash */
  return 1;
}
