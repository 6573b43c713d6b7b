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

/* Where a program looks for modules, and what it loads first. */
enum { BUNDLE_OPEN = 0, BUNDLE_SEALED = 1, BUNDLE_SYSTEM = 2 };

struct Bundle {
  std::string script;           /* the main script's file name */
  std::vector<Module> modules;  /* in the order they were found */
  int kind = BUNDLE_OPEN;       /* BUNDLE_OPEN: made before programs were sealed */
  std::string path, cpath;      /* a sealed program's module paths, "!" its folder */
  std::vector<std::string> beside;  /* the files it expects beside it */
  std::vector<std::string> carried; /* the native files it carries inside (--onefile) */
  /* A native module's file, then the libraries to load before it from
  ** beside the program, in order: the loader would not look there. */
  std::vector<std::vector<std::string>> preload;
  size_t at = 0, len = 0;       /* where the prelude lies in the chunk */
};

/* text with a prelude of one line that registers b's modules for require,
** seals the module paths or keeps the system's (b.kind), loads native
** modules' libraries from beside the program and sets arg, at the start or
** after a "#" first line (hashline); every line of text keeps its number.
** A script that is one "#" line, which the launcher runs as an empty
** chunk, takes none. */
std::string makebundle(const Bundle &b, const std::string &text);

/* Reads back what makebundle wrote, this version's or an earlier one's; 0
** when chunk carries no prelude.  Without withtext the modules' texts are
** only measured. */
int readbundle(const std::string &chunk, Bundle *b, int withtext);

/* Turns the chunk into the main script as it was read: the prelude goes. */
void mainscript(std::string *chunk, const Bundle &b);

#endif /* OVREL_GLUE_BUNDLE_H */
