// signature.h: copying a launcher's image without its Authenticode
// signature.
#ifndef OVREL_GLUE_SIGNATURE_H
#define OVREL_GLUE_SIGNATURE_H

#include <stdint.h>
#include <stdio.h>

/* Copies the first *image bytes of the launcher to `to`.  From a signed PE
** image the copy drops the certificate entry, and the table itself where
** it ends the image (*image then shrinks); nonzero when it did. */
int copyimage(FILE *from, const char *path, FILE *to, int64_t *image);

#endif /* OVREL_GLUE_SIGNATURE_H */
