// reader.h: the chunk reader that streams an appended script to the loader.
//
// Internal to the launcher; a header only so that the reader can be tested
// on its own.
#ifndef OVREL_READER_H
#define OVREL_READER_H

#include <stddef.h>
#include <stdio.h>

#include "ovrel.h"

#define READER_BLOCK 512

struct State {
  FILE *f;                    /* positioned at the next script byte; NULL when */
  const char *mem;            /* the script is in memory, from here */
  size_t size;                /* script bytes not yet delivered */
  char buff[READER_BLOCK];    /* the block last handed to the loader */
};

/* Skips a first line that begins with "#", up to but not including its
** newline, so every line of the chunk keeps its number in the script.
** This is the one definition of that rule: the glue tool reads a script
** in memory through it too. */
void skipline(State *S);

/* lua_Reader: the next block of at most 512 bytes from a file, or the rest
** of a script in memory; null at the end. */
const char *myget(lua_State *L, void *data, size_t *size);

#endif /* OVREL_READER_H */
