// scriptchunk.h: a script read as the launcher reads it, by the launcher's
// own reader, so that its first-line rule is the launcher's code itself.
#ifndef OVREL_GLUE_SCRIPTCHUNK_H
#define OVREL_GLUE_SCRIPTCHUNK_H

#include <stddef.h>

struct lua_State;

/* How many bytes at the start of text the launcher skips before its chunk:
** a "#" first line without its newline, or nothing. */
size_t launcherskip(const char *text, size_t len);

/* Loads text onto L's stack as the launcher does (lua_load's result). */
int launcherload(struct lua_State *L, const char *text, size_t len, const char *chunkname);

#endif /* OVREL_GLUE_SCRIPTCHUNK_H */
