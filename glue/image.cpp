// image.cpp: what an executable image, ELF or PE, says about its loading.
//
// Read from the file itself: the DT_NEEDED entries and the run-path of an
// ELF file, the import table of a PE file.  Every read is bounded, so a
// crafted file yields less, never a read past what it holds.
#include "image.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "glue.h"
#include "srglue.h"  /* glue_le, GluePE */


/* Bounds what a crafted file can make the tool read. */
#define MAX_TABLE (16 << 20)

/* n bytes at pos into buff, or 0. */
static int readat(FILE *f, uint64_t pos, void *buff, size_t n) {
#if defined(_WIN32)
  if (_fseeki64(f, (int64_t)pos, SEEK_SET) != 0) return 0;
#else
  if (pos > INT64_MAX || fseeko(f, (off_t)pos, SEEK_SET) != 0) return 0;
#endif
  return fread(buff, 1, n, f) == n;
}


static std::string readtext(FILE *f, uint64_t pos, uint64_t limit) {
  std::string s;
  char buff[256];
  size_t n = limit < sizeof buff ? (size_t)limit : sizeof buff;
  if (n == 0 || !readat(f, pos, buff, n)) return s;
  return std::string(buff, strnlen(buff, n));
}


/* ELF, little-endian, 32 or 64 bits: the dynamic section and its strings,
** found through the section headers. */
static void readelf(FILE *f, const unsigned char *h, Image *im) {
  int wide = h[4] == 2;
  if ((h[4] != 1 && !wide) || h[5] != 1) return;
  uint64_t shoff = wide ? glue_le(h + 0x28, 8) : glue_le(h + 0x20, 4);
  unsigned entsize = (unsigned)glue_le(h + (wide ? 0x3a : 0x2e), 2);
  unsigned count = (unsigned)glue_le(h + (wide ? 0x3c : 0x30), 2);
  if (entsize < (wide ? 64u : 40u) || count == 0 || (uint64_t)entsize * count > MAX_TABLE) return;
  std::string sh((size_t)entsize * count, '\0');
  if (!readat(f, shoff, &sh[0], sh.size())) return;
  for (unsigned i = 0; i < count; i++) {
    const unsigned char *s = (const unsigned char *)sh.data() + (size_t)i * entsize;
    if (glue_le(s + 4, 4) != 6) continue;  /* SHT_DYNAMIC */
    uint64_t off = glue_le(s + (wide ? 0x18 : 0x10), wide ? 8 : 4);
    uint64_t size = glue_le(s + (wide ? 0x20 : 0x14), wide ? 8 : 4);
    uint64_t link = glue_le(s + (wide ? 0x28 : 0x18), 4);
    if (link >= count || size > MAX_TABLE) return;
    const unsigned char *str = (const unsigned char *)sh.data() + link * entsize;
    uint64_t stroff = glue_le(str + (wide ? 0x18 : 0x10), wide ? 8 : 4);
    uint64_t strsize = glue_le(str + (wide ? 0x20 : 0x14), wide ? 8 : 4);
    std::string dyn((size_t)size, '\0');
    if (!readat(f, off, &dyn[0], dyn.size())) return;
    size_t step = wide ? 16 : 8;
    for (size_t at = 0; at + step <= dyn.size(); at += step) {
      const unsigned char *d = (const unsigned char *)dyn.data() + at;
      uint64_t tag = glue_le(d, (int)step / 2), val = glue_le(d + step / 2, (int)step / 2);
      if (tag == 0) break;  /* DT_NULL */
      if (val >= strsize) continue;
      if (tag == 1) {  /* DT_NEEDED */
        im->needed.push_back(readtext(f, stroff + val, strsize - val));
      } else if (tag == 15 || tag == 29) {  /* DT_RPATH, DT_RUNPATH */
        std::string path = readtext(f, stroff + val, strsize - val);
        size_t start = 0;
        for (size_t colon; (colon = path.find(':', start)) != std::string::npos; start = colon + 1)
          im->runpath.push_back(path.substr(start, colon - start));
        im->runpath.push_back(path.substr(start));
      }
    }
    return;
  }
}


/* PE: the names in the import table (data directory 1), found through
** the section table. */
static void readpe(FILE *f, Image *im) {
  GluePE pe;
  long entry;
  uint32_t rva, size;
  if (!glue_pe_read(f, &pe) || !glue_pe_directory(&pe, 1, &entry, &rva, &size) || rva == 0) return;
  unsigned nsections = pe.sections;
  std::string sec((size_t)nsections * 40, '\0');
  if (nsections == 0 || !readat(f, (uint64_t)pe.at + GLUE_PE_OPTIONAL + pe.optsize, &sec[0], sec.size()))
    return;
  auto offset = [&](uint64_t r, uint64_t *off) {
    for (unsigned i = 0; i < nsections; i++) {
      const unsigned char *s = (const unsigned char *)sec.data() + (size_t)i * 40;
      uint64_t va = glue_le(s + 12, 4), vsize = std::max(glue_le(s + 8, 4), glue_le(s + 16, 4));
      if (r >= va && r < va + vsize) {
        *off = glue_le(s + 20, 4) + (r - va);
        return 1;
      }
    }
    return 0;
  };
  for (int i = 0; i < 4096; i++) {
    uint64_t at, nameat;
    unsigned char d[20];
    if (!offset(rva + (uint64_t)i * 20, &at) || !readat(f, at, d, sizeof d)) return;
    uint64_t name = glue_le(d + 12, 4);
    if (name == 0) return;  /* the closing all-zero entry */
    if (offset(name, &nameat)) im->needed.push_back(readtext(f, nameat, 256));
  }
}


/* 'E' for an ELF image, 'P' for a PE one, 0 for anything else. */
static int kindof(FILE *f, const unsigned char *h) {
  GluePE pe;
  if (memcmp(h, "\x7f" "ELF", 4) == 0) return 'E';
  return glue_pe_read(f, &pe) ? 'P' : 0;
}


Image readimage(const std::string &path) {
  Image im;
  FILE *f = fopen(path.c_str(), "rb");
  if (f == NULL) die("cannot open %s: %s", path.c_str(), strerror(errno));  /* it was found */
  unsigned char h[64];
  if (readat(f, 0, h, sizeof h)) {
    im.kind = kindof(f, h);
    if (im.kind == 'E') readelf(f, h, &im);
    else if (im.kind == 'P') readpe(f, &im);
  }
  fclose(f);
  return im;
}


int executable(const std::string &path) {
  FILE *f = fopen(path.c_str(), "rb");
  if (f == NULL) die("cannot open %s: %s", path.c_str(), strerror(errno));
  unsigned char h[64];
  int kind = readat(f, 0, h, sizeof h) ? kindof(f, h) : 0;
  fclose(f);
  return kind != 0;
}
