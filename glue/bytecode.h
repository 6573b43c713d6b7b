// bytecode.h: the modules a precompiled chunk requires by a literal name.
#ifndef OVREL_GLUE_BYTECODE_H
#define OVREL_GLUE_BYTECODE_H

#include <string>
#include <vector>

/* Appends the names that chunk, precompiled by the engine, requires by a
** literal name (require "x", pcall(require, "x")), each once, in the order
** of its functions.  Returns 0 when the chunk could not be read whole:
** what it requires may then be more. */
int bytecoderequires(const std::string &chunk, std::vector<std::string> *names);

#endif /* OVREL_GLUE_BYTECODE_H */
