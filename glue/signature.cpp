// signature.cpp: copying a launcher's image without its Authenticode
// signature.
//
// A signature covers the whole file it was made for, and its certificate
// table must be that file's last part; a program glued from a signed image
// is another file, with its script and trailer after the table.  Its stale
// entry would make Windows and the signing tools take the program as
// wrongly signed, so the copy carries none and is signed after gluing.
#include "signature.h"

#include "files.h"
#include "writing.h"


int copyimage(FILE *from, const char *path, FILE *to, int64_t *image) {
  long entry = -1;
  uint32_t offset = 0, size = 0;
  glue_pe_certificate(from, &entry, &offset, &size);
  int64_t end = (int64_t)offset + size == *image ? offset : *image;  /* the table cut off */
  seekto(from, path, 0);
  if ((offset == 0 && size == 0) || entry < 0 || entry + 8 > end) {
    copybytes(from, path, to, *image);
    return 0;
  }
  static const unsigned char none[8] = {0};
  *image = end;
  copybytes(from, path, to, entry);
  putbytes(to, none, sizeof none);
  seekto(from, path, entry + 8);
  copybytes(from, path, to, end - entry - 8);
  return 1;
}
