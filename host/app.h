/* app.h: the module "ovrel.app", which tells a program its own file and
** folder.  Internal to the runtime; plain C. */
#ifndef OVREL_APP_H
#define OVREL_APP_H

/* Its name, also to the glue tool, which knows it as always there. */
#define OVREL_APP_NAME "ovrel.app"

struct lua_State;

/* Makes require "ovrel.app" give {path = the running program's own file,
** dir = its folder}, both absolute; fields the system cannot tell stay nil. */
void app_preload(lua_State *L);

#endif /* OVREL_APP_H */
