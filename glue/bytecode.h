// bytecode.h: the modules a precompiled chunk requires.
#ifndef OVREL_GLUE_BYTECODE_H
#define OVREL_GLUE_BYTECODE_H

#include <string>
#include <vector>

/* A call of require in a chunk. */
struct Require {
  std::string name;  /* the literal name, or "" when it is computed */
  int line = 0;      /* where the call is; 0 when the chunk keeps no lines */
  int optional = 0;  /* called through pcall: its absence is handled */
};

/* Appends the calls of require in chunk, precompiled by the engine, in
** the order of the source: each literal name once (optional only when
** every call of it is), each computed call once per line.  Returns 0 when
** the chunk could not be read whole: what it requires may then be more. */
int bytecoderequires(const std::string &chunk, std::vector<Require> *out);

#endif /* OVREL_GLUE_BYTECODE_H */
