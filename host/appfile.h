/* appfile.h: read-only file handles over a string, for the files a program
** carries inside it.  Internal to the runtime; plain C. */
#ifndef OVREL_APPFILE_H
#define OVREL_APPFILE_H

struct lua_State;

/* Pushes a read-only file handle over the string at index idx (kept alive
** by the handle), positioned at its start. */
void appfile_push(lua_State *L, int idx);

#endif /* OVREL_APPFILE_H */
