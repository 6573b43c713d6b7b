/* app.h: the module "ovrel.app", which tells a program its own file and
** folder.  Internal to the runtime; plain C. */
#ifndef OVREL_APP_H
#define OVREL_APP_H

/* Its name, also to the glue tool, which knows it as always there. */
#define OVREL_APP_NAME "ovrel.app"

struct lua_State;

/* Pushes the running program's own file, absolute, and returns it; NULL
** with nothing pushed where the system cannot tell it.  The one source of
** the program's file and folder, for this module and the module paths. */
const char *app_pushpath(lua_State *L);

/* Makes require "ovrel.app" give the program's own file and folder
** (path, dir: absolute; nil where the system cannot tell them) and the
** functions that read the files it carries.  Called once the engine's
** libraries are open. */
void app_preload(lua_State *L);

#endif /* OVREL_APP_H */
