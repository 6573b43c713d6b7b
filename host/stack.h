// stack.h: stack indices as the runtime's operations take them.
#ifndef OVREL_HOST_STACK_H
#define OVREL_HOST_STACK_H

#include "ovrel.h"

/* The slot idx names, as an index that stays put while values are pushed;
** pseudo-indices (the registry, upvalues) are left as they are. */
static inline int absindex(lua_State *L, int idx) {
  return (idx < 0 && idx > LUA_REGISTRYINDEX) ? lua_gettop(L) + idx + 1 : idx;
}

#endif
