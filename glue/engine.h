// engine.h: what the glue tool asks of the engine the launcher runs on:
// its compiler and its default module path.
#ifndef OVREL_GLUE_ENGINE_H
#define OVREL_GLUE_ENGINE_H

#include <string>

/* A precompiled chunk, which the loader takes as it is. */
int precompiled(const std::string &text);

/* Where the second line starts when the first begins with "#", the line
** the launcher skips: 0 when there is no such line, npos when text is that
** one line. */
size_t hashline(const std::string &text);

/* The chunk the loader is handed: a first line beginning with "#" is
** dropped, its newline kept, so line numbers stay those of text; before a
** precompiled chunk the newline goes too, as the engine takes it. */
std::string launcherchunk(const std::string &text);

/* Compiles chunk under chunkname ("@path" gives "path:line:" messages);
** returns the compiler's message, or "" when it compiles. */
std::string compileerror(const std::string &chunk, const char *chunkname);

/* package.path (field "path") or package.cpath ("cpath") of a fresh
** state: LUA_PATH or LUA_CPATH when set (";;" standing for the default),
** else the engine's compiled-in path. */
std::string defaultpath(const char *field);

#endif /* OVREL_GLUE_ENGINE_H */
