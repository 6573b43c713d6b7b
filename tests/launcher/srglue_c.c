/* srglue_c.c: the installed trailer header compiles as C99, not only as
** C++; the build fails otherwise. */
#include "srglue.h"

int srglue_c_found(FILE *f) {
  Glue glue;
  long at;
  return glue_find(f, &glue, &at) == GLUE_FOUND && glue_sound(&glue, at);
}
