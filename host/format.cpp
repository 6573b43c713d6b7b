// format.cpp: the runtime's string formatter and error raiser over the engine.
#include "engine.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

/* The engine knows %s %d %f %p %c and %%; the runtime adds %u.  The text is
** assembled in an engine buffer, which keeps the stack use bounded however
** many directives the format holds. */
static const char *pushvfstring(lua_State *L, const char *fmt, va_list ap) {
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  const char *run = fmt;
  for (const char *e; (e = strchr(run, '%')) != nullptr; run = e + 2) {
    luaL_addlstring(&b, run, (size_t)(e - run));
    char num[64];
    switch (e[1]) {
      case 's': {
        const char *s = va_arg(ap, const char *);
        luaL_addstring(&b, s ? s : "(null)");
        break;
      }
      case 'c':
        luaL_addchar(&b, (char)va_arg(ap, int));
        break;
      case 'd':
        snprintf(num, sizeof num, "%d", va_arg(ap, int));
        luaL_addstring(&b, num);
        break;
      case 'u':
        snprintf(num, sizeof num, "%u", va_arg(ap, unsigned int));
        luaL_addstring(&b, num);
        break;
      case 'f':
        ovrel_pushnumber(L, va_arg(ap, lua_Number));  /* printed as 5.1 prints it */
        luaL_addvalue(&b);
        break;
      case 'p':
        snprintf(num, sizeof num, "%p", va_arg(ap, void *));
        luaL_addstring(&b, num);
        break;
      case '%':
        luaL_addchar(&b, '%');
        break;
      case '\0':  /* a lone % at the end stands for itself */
        luaL_addchar(&b, '%');
        luaL_pushresult(&b);
        return lua_tostring(L, -1);
      default:    /* unknown directive: kept as written, as the engine does */
        luaL_addchar(&b, '%');
        luaL_addchar(&b, e[1]);
        break;
    }
  }
  luaL_addstring(&b, run);
  luaL_pushresult(&b);
  return lua_tostring(L, -1);
}


const char *ovrel_pushfstring(lua_State *L, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const char *s = pushvfstring(L, fmt, ap);
  va_end(ap);
  return s;
}


int ovrel_error(lua_State *L, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  luaL_where(L, 1);
  pushvfstring(L, fmt, ap);
  va_end(ap);
  lua_concat(L, 2);
  return lua_error(L);
}
