// reader.cpp: first-line skip and block reader over the appended script.
#include "reader.h"


void skipline(State *S) {
  if (S->size == 0) return;  /* empty chunk: nothing to read */
  int c = getc(S->f);
  if (c != '#') {
    ungetc(c, S->f);  /* part of the chunk; a no-op at end of file */
    return;
  }
  S->size--;
  while (S->size > 0 && (c = getc(S->f)) != EOF) {
    S->size--;
    if (c == '\n') {
      ungetc(c, S->f);  /* the chunk starts with it: line 1 stays line 1 */
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
  size_t n = S->size < READER_BLOCK ? S->size : READER_BLOCK;
  size_t got = fread(S->buff, 1, n, S->f);
  S->size -= got;
  *size = got;
  return got ? S->buff : NULL;
}
