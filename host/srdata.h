/* srdata.h: the files a self-running program carries, and how they are found.
**
** A program that carries files is the launcher's image, the files' bytes
** one after another, their index, one Data record of 16 bytes, then the
** script and its trailer (srglue.h) as in any program.  The record ends
** where the script starts, so the trailer's script offset leads to it; a
** program that carries nothing has no record, and its script follows the
** image.  The launcher reads only the script: what is carried costs
** nothing until it is read, file by file.
**
** The index holds one entry per file, in the order of their bytes:
**   offset  4  where its bytes start, from the first file's first byte
**   size    4  their number
**   namelen 2  the length of its name
**   kind    1  DATA_FILE (included data) or DATA_NATIVE (a native module
**              or a library it loads, carried by --onefile)
**   zero    1
**   name    namelen bytes, no terminator: a relative path with "/"
** Numbers are unsigned little-endian.  Every entry lies within the files'
** bytes, and every reader checks that before it reads: a damaged or
** crafted program gives an error, never a read elsewhere.  Plain C. */
#ifndef OVREL_SRDATA_H
#define OVREL_SRDATA_H

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "srglue.h"

#define DATA_SIG "%%srdata"
#define DATA_ENTRY 12  /* an entry's bytes before its name */

enum { DATA_FILE = 0, DATA_NATIVE = 1 };

typedef struct DataRecord {
  char sig[GLUE_SIGLEN];   /* "%%srdata", no terminator */
  unsigned char index[4];  /* the index's length in bytes */
  unsigned char files[4];  /* the files' bytes, all of them */
} DataRecord;

typedef char datarecord_is_16_bytes[sizeof(DataRecord) == 16 ? 1 : -1];

/* Where a program's carried files lie in it. */
typedef struct DataSpan {
  uint32_t files;   /* file offset of the first file's first byte */
  uint32_t length;  /* the files' bytes */
  uint32_t index;   /* file offset of the index */
  uint32_t size;    /* the index's length */
} DataSpan;

/* One entry, as data_next reads it; name points into the index. */
typedef struct DataEntry {
  uint32_t offset, size;
  unsigned kind;
  const char *name;
  size_t namelen;
} DataEntry;


/* Reads the record before the script of the program open in f (glue its
** trailer) into *span: 1 when the program carries files, 0 when it carries
** none, -1 when the record is damaged or the file cannot be read.  Moves
** the file position. */
static inline int data_locate(FILE *f, const Glue *glue, DataSpan *span) {
  int32_t script = glue_get32(glue->size1);
  DataRecord r;
  if (script < (int32_t)sizeof r) return 0;
  if (fseek(f, (long)script - (long)sizeof r, SEEK_SET) != 0 || fread(&r, sizeof r, 1, f) != 1) return -1;
  if (memcmp(r.sig, DATA_SIG, GLUE_SIGLEN) != 0) return 0;
  span->size = (uint32_t)glue_le(r.index, 4);
  span->length = (uint32_t)glue_le(r.files, 4);
  uint64_t before = (uint64_t)span->size + span->length + sizeof r;
  if (before > (uint64_t)script) return -1;
  span->files = (uint32_t)((uint64_t)script - before);
  span->index = span->files + span->length;
  return 1;
}


/* Reads the entry at *pos of the index (size bytes) into *e and moves *pos
** past it: 1, or 0 at the index's end, or -1 when the entry is damaged
** (cut short, of no known kind, or pointing outside the files' length
** bytes). */
static inline int data_next(const unsigned char *index, size_t size, uint32_t length,
                            size_t *pos, DataEntry *e) {
  if (*pos >= size) return 0;
  if (size - *pos < DATA_ENTRY) return -1;
  const unsigned char *p = index + *pos;
  e->offset = (uint32_t)glue_le(p, 4);
  e->size = (uint32_t)glue_le(p + 4, 4);
  e->namelen = (size_t)glue_le(p + 8, 2);
  e->kind = p[10];
  e->name = (const char *)p + DATA_ENTRY;
  if (size - *pos - DATA_ENTRY < e->namelen || e->namelen == 0 || e->kind > DATA_NATIVE || p[11] != 0 ||
      (uint64_t)e->offset + e->size > length)
    return -1;
  *pos += DATA_ENTRY + e->namelen;
  return 1;
}

#endif /* OVREL_SRDATA_H */
