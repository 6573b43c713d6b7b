// srglue.h: the trailer at the end of a self-running program, and where to
// find it.
//
// A self-running program is the launcher's image, then the script, then
// one Glue record as the file's last 16 bytes.  The two offsets are signed
// 32-bit little-endian on every host; they are kept as bytes and decoded
// explicitly, so the record has no padding and reads the same on any
// byte order.
//
// Signing a Windows program (Authenticode) appends a certificate table,
// aligned to 8 with zero bytes, after the trailer; glue_find looks for the
// trailer there too.  The header is C as well as C++.
#ifndef OVREL_SRGLUE_H
#define OVREL_SRGLUE_H

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#define GLUE_SIG "%%srglue"
#define GLUE_SIGLEN 8

typedef struct Glue {
  char sig[GLUE_SIGLEN];    /* "%%srglue", no terminator */
  unsigned char size1[4];   /* offset of the script's first byte */
  unsigned char size2[4];   /* length of the script in bytes */
} Glue;

/* Fails to compile unless the record is exactly 16 bytes (C89 to C++). */
typedef char glue_is_16_bytes[sizeof(Glue) == 16 ? 1 : -1];


/* An unsigned little-endian number of n bytes (at most 8): the trailer's
** and the PE format's byte order, read the same on any host. */
static inline uint64_t glue_le(const unsigned char *b, int n) {
  uint64_t v = 0;
  int i;
  for (i = n - 1; i >= 0; i--) v = v << 8 | b[i];
  return v;
}


static inline int32_t glue_get32(const unsigned char b[4]) {
  return (int32_t)(uint32_t)glue_le(b, 4);  /* two's complement, as written */
}


static inline void glue_put32(unsigned char b[4], int32_t v) {
  uint32_t u = (uint32_t)v;
  b[0] = (unsigned char)u;
  b[1] = (unsigned char)(u >> 8);
  b[2] = (unsigned char)(u >> 16);
  b[3] = (unsigned char)(u >> 24);
}


/* The step at which glue_find gave up; each has its own report. */
typedef enum GlueStep {
  GLUE_FOUND,
  GLUE_SEEK_FAILED,   /* the file is shorter than a trailer, or cannot seek */
  GLUE_READ_FAILED,   /* its last 16 bytes cannot be read */
  GLUE_MISSING        /* no trailer where one belongs */
} GlueStep;


/* The headers of a PE image, as the tools read them: after "MZ", the file
** offset of "PE\0\0" at 0x3c; behind that signature the file header (20
** bytes: the section count at 2, the optional header's size at 16), then
** the optional header, whose magic tells PE32 (0x10b) from PE32+ (0x20b)
** and so where its data directories start (96 or 112 bytes in, their
** count in the 4 bytes before), 8 bytes each: an address and a size. */
typedef struct GluePE {
  uint32_t at;          /* file offset of the signature */
  unsigned sections;    /* the section count */
  unsigned optsize;     /* the optional header's size */
  unsigned dirs;        /* offset of the data directories in it */
  unsigned char b[4 + 20 + 112 + 16 * 8];  /* the headers, as far as the file has them */
  size_t got;
} GluePE;

#define GLUE_PE_OPTIONAL 24  /* where the optional header starts in b */


/* Reads the headers of the PE image open in f; 0 when it is none.  Moves
** the file position. */
static inline int glue_pe_read(FILE *f, GluePE *pe) {
  unsigned char *b = pe->b;
  unsigned magic;
  if (fseek(f, 0, SEEK_SET) != 0 || fread(b, 1, 64, f) != 64 || b[0] != 'M' || b[1] != 'Z')
    return 0;
  pe->at = (uint32_t)glue_le(b + 0x3c, 4);
  if (pe->at > 0x10000000 || fseek(f, (long)pe->at, SEEK_SET) != 0) return 0;
  pe->got = fread(b, 1, sizeof pe->b, f);
  if (pe->got < GLUE_PE_OPTIONAL + 2 || memcmp(b, "PE\0\0", 4) != 0) return 0;
  pe->sections = (unsigned)glue_le(b + 6, 2);
  pe->optsize = (unsigned)glue_le(b + 20, 2);
  magic = (unsigned)glue_le(b + GLUE_PE_OPTIONAL, 2);
  pe->dirs = magic == 0x10b ? 96 : magic == 0x20b ? 112 : 0;
  return pe->dirs != 0;
}


/* Data directory i of a PE image: *entry is its file offset, *address and
** *size what it holds.  0 when the image has no such directory. */
static inline int glue_pe_directory(const GluePE *pe, unsigned i, long *entry,
                                    uint32_t *address, uint32_t *size) {
  size_t at = GLUE_PE_OPTIONAL + pe->dirs + 8 * (size_t)i;
  if (pe->optsize < pe->dirs + 8 * (i + 1) || pe->got < at + 8 ||
      glue_le(pe->b + GLUE_PE_OPTIONAL + pe->dirs - 4, 4) <= i)
    return 0;
  *entry = (long)pe->at + (long)at;
  *address = (uint32_t)glue_le(pe->b + at, 4);
  *size = (uint32_t)glue_le(pe->b + at + 4, 4);
  return 1;
}


/* Where a PE image keeps its certificate table (data directory 4, whose
** first field is a file offset, not an address): *entry is the file offset
** of that directory entry.  Zero when f is no PE32 or PE32+ image with at
** least 5 data directories.  Moves the file position. */
static inline int glue_pe_certificate(FILE *f, long *entry, uint32_t *offset, uint32_t *size) {
  GluePE pe;
  return glue_pe_read(f, &pe) && glue_pe_directory(&pe, 4, entry, offset, size);
}


/* Reads the trailer of the program open in f into *glue and sets *at to its
** offset in the file (-1 where a long cannot hold it).  The trailer is the
** file's last 16 bytes; only when those are not one, and the file is a PE
** image whose certificate table is its last part, is it looked for before
** that table, behind the 0 to 7 zero bytes that align the table. */
static inline GlueStep glue_find(FILE *f, Glue *glue, long *at) {
  if (fseek(f, -(long)sizeof *glue, SEEK_END) != 0) return GLUE_SEEK_FAILED;
  *at = ftell(f);
  if (fread(glue, sizeof *glue, 1, f) != 1) return GLUE_READ_FAILED;
  if (memcmp(glue->sig, GLUE_SIG, GLUE_SIGLEN) == 0) return GLUE_FOUND;

  long entry, end = *at < 0 ? -1 : *at + (long)sizeof *glue;
  uint32_t offset, size;
  if (end < 0 || !glue_pe_certificate(f, &entry, &offset, &size) || size == 0 ||
      (uint64_t)offset + size != (uint64_t)end || offset < sizeof *glue)
    return GLUE_MISSING;
  unsigned char before[sizeof *glue + 7];  /* a trailer and the padding */
  long from = (long)offset - (long)sizeof before;
  long skip = from < 0 ? -from : 0;
  if (fseek(f, from + skip, SEEK_SET) != 0 ||
      fread(before + skip, 1, sizeof before - (size_t)skip, f) != sizeof before - (size_t)skip)
    return GLUE_MISSING;
  for (long pad = 0; pad <= 7 && (long)sizeof before - pad - 16 >= skip; pad++) {
    const unsigned char *g = before + sizeof before - pad - 16;
    if (pad > 0 && before[sizeof before - pad] != 0) break;  /* padding is zero bytes */
    if (memcmp(g, GLUE_SIG, GLUE_SIGLEN) == 0) {
      memcpy(glue, g, sizeof *glue);
      *at = (long)offset - pad - (long)sizeof *glue;
      return GLUE_FOUND;
    }
  }
  return GLUE_MISSING;
}


/* A trailer at offset at can be run: its script starts within the file and
** not beyond the trailer.  An offset that could not be told bounds nothing. */
static inline int glue_sound(const Glue *glue, long at) {
  int32_t start = glue_get32(glue->size1);
  return start >= 0 && (at < 0 || start <= at);
}


/* The most script bytes read from the start: a negative length, taken as a
** huge one, reads to the end of the file, as does one past it. */
static inline size_t glue_length(const Glue *glue) {
  return (size_t)glue_get32(glue->size2);
}

#endif /* OVREL_SRGLUE_H */
