// reader.cpp: first-line skip and block reader over the appended script.
#include "reader.h"


/* The next byte, S->size being above 0, and one put back. */
static int nextbyte(State *S) {
  return S->f != NULL ? getc(S->f) : (unsigned char)*S->mem++;
}

static void putback(State *S, int c) {
  if (S->f != NULL) ungetc(c, S->f);  /* a no-op at end of file */
  else if (c != EOF) S->mem--;
}


void skipline(State *S) {
  if (S->size == 0) return;  /* empty chunk: nothing to read */
  int c = nextbyte(S);
  if (c != '#') {
    putback(S, c);  /* part of the chunk */
    return;
  }
  S->size--;
  while (S->size > 0 && (c = nextbyte(S)) != EOF) {
    S->size--;
    if (c == '\n') {
      putback(S, c);  /* the chunk starts with it: line 1 stays line 1 */
      S->size++;
      break;
    }
  }
}


/* Stops at the script's length or at end of file, whichever comes first,
** and never hands over an empty block. */
const char *myget(lua_State *L, void *data, size_t *size) {
  (void)L;
  State *S = (State *)data;
  if (S->f == NULL) {
    const char *rest = S->mem;
    *size = S->size;
    S->mem += S->size;
    S->size = 0;
    return *size ? rest : NULL;
  }
  size_t n = S->size < READER_BLOCK ? S->size : READER_BLOCK;
  size_t got = fread(S->buff, 1, n, S->f);
  S->size -= got;
  *size = got;
  return got ? S->buff : NULL;
}
