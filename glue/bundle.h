// bundle.h: a program's modules packed into its chunk, and read back.
#ifndef OVREL_GLUE_BUNDLE_H
#define OVREL_GLUE_BUNDLE_H

#include <string>
#include <vector>

#include "glue.h"

/* How the bundle makes a module's chunk of its text t, as loading its file
** would: a "#" first line is dropped, its newline kept, and the newline
** too before a precompiled chunk.  Lua, run by every program the tool
** makes; the tool runs the same text to compile each module as the
** program will. */
#define BUNDLE_MODULE_CHUNK \
  "if t:byte(1)==35 then t=t:gsub(\"^[^\\n]*\",\"\",1) if t:byte(2)==27 then t=t:sub(2) end end "

struct Bundle {
  std::string script;           /* the main script's file name */
  std::vector<Module> modules;  /* in the order they were found */
  size_t at, len;               /* where the prelude lies in the chunk */
};

/* text with a prelude of one line that registers the modules for require
** and sets arg, at the start or after a "#" first line (hashline); every
** line of text keeps its number.  A script that is one "#" line, which the
** launcher runs as an empty chunk, takes none. */
std::string makebundle(const std::string &scriptname, const std::string &text,
                       const std::vector<Module> &modules);

/* Reads back what makebundle wrote, this version's or an earlier one's; 0
** when chunk carries no prelude.  Without withtext the modules' texts are
** only measured. */
int readbundle(const std::string &chunk, Bundle *b, int withtext);

/* Turns the chunk into the main script as it was read: the prelude goes. */
void mainscript(std::string *chunk, const Bundle &b);

#endif /* OVREL_GLUE_BUNDLE_H */
