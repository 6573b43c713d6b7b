// srglue.h: the trailer at the end of a self-running program.
//
// A self-running program is the launcher's image, then the script, then
// one Glue record as the file's last 16 bytes.  The two offsets are signed
// 32-bit little-endian on every host; they are kept as bytes and decoded
// explicitly, so the record has no padding and reads the same on any
// byte order.
#ifndef OVREL_SRGLUE_H
#define OVREL_SRGLUE_H

#include <stdint.h>

#define GLUE_SIG "%%srglue"
#define GLUE_SIGLEN 8

struct Glue {
  char sig[GLUE_SIGLEN];    /* "%%srglue", no terminator */
  unsigned char size1[4];   /* offset of the script's first byte */
  unsigned char size2[4];   /* length of the script in bytes */
};

static_assert(sizeof(Glue) == 16, "the trailer is exactly 16 bytes");


static inline int32_t glue_get32(const unsigned char b[4]) {
  uint32_t u = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 |
               (uint32_t)b[3] << 24;
  return (int32_t)u;  /* two's complement, as written */
}


static inline void glue_put32(unsigned char b[4], int32_t v) {
  uint32_t u = (uint32_t)v;
  b[0] = (unsigned char)u;
  b[1] = (unsigned char)(u >> 8);
  b[2] = (unsigned char)(u >> 16);
  b[3] = (unsigned char)(u >> 24);
}

#endif /* OVREL_SRGLUE_H */
