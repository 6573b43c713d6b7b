// engine.h: what the glue tool asks of the engine the launcher runs on:
// its compiler and its default module path.
#ifndef OVREL_GLUE_ENGINE_H
#define OVREL_GLUE_ENGINE_H

#include <string>
#include <vector>

#include "bytecode.h"

/* A precompiled chunk, which the loader takes as it is. */
int precompiled(const std::string &text);

/* Where the second line starts when the first begins with "#", the line
** the launcher skips (scriptchunk.h): 0 when there is no such line, npos
** when text is that one line. */
size_t hashline(const std::string &text);

/* What the engine makes of a chunk. */
struct Compiled {
  std::string message;                /* the compiler's, or "" when it compiles */
  std::vector<Require> needs;         /* its requires, in source order (bytecode.h) */
  int whole;                          /* 0 when the chunk, precompiled and stripped of
                                         its debug data, may require more */
};

/* Compiles a script as the launcher loads it, or a module's text as its
** bundle loads it, under chunkname ("@path" gives "path:line:" messages),
** and reads what it requires from the compiled function, dumped as the
** engine dumps it.  Running out of memory ends the tool with its report. */
Compiled compilescript(const std::string &text, const char *chunkname);
Compiled compilemodule(const std::string &text, const char *chunkname);

/* package.path (field "path") or package.cpath ("cpath") of a fresh
** state: LUA_PATH or LUA_CPATH when set (";;" standing for the default),
** else the engine's compiled-in path. */
std::string defaultpath(const char *field);

/* Whether every program has module name loaded before it starts: the
** engine's own libraries ("string", "_G", ...) and the runtime's
** "ovrel.app". */
int launchermodule(const std::string &name);

#endif /* OVREL_GLUE_ENGINE_H */
