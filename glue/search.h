// search.h: where the sources of a program's modules are.
#ifndef OVREL_GLUE_SEARCH_H
#define OVREL_GLUE_SEARCH_H

#include <string>
#include <vector>

#include "glue.h"

/* A name that maps to a path below its folder: no empty, "." or ".."
** part and no separator of paths. */
int goodname(const std::string &name);

/* Appends the templates of a path ("a/?.lua;b/?.lua"), skipping empty ones. */
void addtemplates(std::vector<std::string> *out, const std::string &path);

/* The file a template names for module name: "?" replaced by the name with
** its dots as separators. */
std::string fill(const std::string &tmpl, const std::string &name);

/* The templates to search, in order: each of includes (a folder without
** "?" stands for folder/?.lua and folder/?/init.lua), then the script's
** folder when there is one, then LUA_PATH or the engine's default path. */
std::vector<std::string> searchpath(const std::vector<std::string> &includes,
                                    const char *scriptfolder);

/* Finds name as Lua source through the templates; 0 when no template
** leads to a file. */
int findmodule(const std::vector<std::string> &templates, const std::string &name, Module *m);

/* The names of every module file below prefix in the folders of the
** templates, prefix itself included, sorted. */
std::vector<std::string> walkprefix(const std::vector<std::string> &templates,
                                    const std::string &prefix);

#endif /* OVREL_GLUE_SEARCH_H */
