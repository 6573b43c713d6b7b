// image.cpp: what an executable image, ELF or PE, says about its loading.
//
// Read from the file itself: the DT_NEEDED entries, the run-path and the
// soname of an ELF file, the import table of a PE file, and the symbols
// either exports.  Every read is bounded, so a crafted file yields less,
// never a read past what it holds.
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


/* A NUL-ended name at pos, of at most limit bytes and 255: one that ends
** near the end of the file is read too. */
static std::string readtext(FILE *f, uint64_t pos, uint64_t limit) {
  char buff[256];
  size_t n = limit < sizeof buff ? (size_t)limit : sizeof buff;
  if (n == 0 || !readat(f, pos, buff, 0)) return std::string();
  n = fread(buff, 1, n, f);
  return std::string(buff, strnlen(buff, n));
}


/* ELF, little-endian, 32 or 64 bits: the only kinds read further. */
static int elfle(const unsigned char *h) {
  return (h[4] == 1 || h[4] == 2) && h[5] == 1;
}


/* The section headers of an ELF file, read whole. */
struct ElfSections {
  int wide;            /* 64 bits */
  unsigned entsize;    /* bytes a header */
  unsigned count;
  std::string table;
};

/* Where one section lies in the file, and the section it links to. */
struct ElfSection {
  uint64_t type, off, size, link;
};


static int elfsections(FILE *f, const unsigned char *h, ElfSections *es) {
  if (!elfle(h)) return 0;
  int wide = es->wide = h[4] == 2;
  uint64_t shoff = wide ? glue_le(h + 0x28, 8) : glue_le(h + 0x20, 4);
  es->entsize = (unsigned)glue_le(h + (wide ? 0x3a : 0x2e), 2);
  es->count = (unsigned)glue_le(h + (wide ? 0x3c : 0x30), 2);
  if (es->entsize < (wide ? 64u : 40u) || es->count == 0 ||
      (uint64_t)es->entsize * es->count > MAX_TABLE)
    return 0;
  es->table.assign((size_t)es->entsize * es->count, '\0');
  return readat(f, shoff, &es->table[0], es->table.size());
}


/* Header i, which the caller has checked is below es.count. */
static ElfSection elfsection(const ElfSections &es, uint64_t i) {
  const unsigned char *s = (const unsigned char *)es.table.data() + i * es.entsize;
  int wide = es.wide, n = wide ? 8 : 4;
  ElfSection sec;
  sec.type = glue_le(s + 4, 4);
  sec.off = glue_le(s + (wide ? 0x18 : 0x10), n);
  sec.size = glue_le(s + (wide ? 0x20 : 0x14), n);
  sec.link = glue_le(s + (wide ? 0x28 : 0x18), 4);
  return sec;
}


/* The dynamic section and its strings, found through the section headers. */
static void readelf(FILE *f, const unsigned char *h, Image *im) {
  ElfSections es;
  if (!elfle(h)) return;
  im->machine = (int)glue_le(h + 0x12, 2);  /* e_machine */
  if (!elfsections(f, h, &es)) return;
  for (unsigned i = 0; i < es.count; i++) {
    ElfSection s = elfsection(es, i);
    if (s.type != 6) continue;  /* SHT_DYNAMIC */
    if (s.link >= es.count || s.size > MAX_TABLE) return;
    ElfSection str = elfsection(es, s.link);
    std::string dyn((size_t)s.size, '\0');
    if (!readat(f, s.off, &dyn[0], dyn.size())) return;
    size_t step = es.wide ? 16 : 8;
    for (size_t at = 0; at + step <= dyn.size(); at += step) {
      const unsigned char *d = (const unsigned char *)dyn.data() + at;
      uint64_t tag = glue_le(d, (int)step / 2), val = glue_le(d + step / 2, (int)step / 2);
      if (tag == 0) break;  /* DT_NULL */
      if (val >= str.size) continue;
      if (tag == 1) {  /* DT_NEEDED */
        im->needed.push_back(readtext(f, str.off + val, str.size - val));
      } else if (tag == 14) {  /* DT_SONAME */
        im->soname = readtext(f, str.off + val, str.size - val);
      } else if (tag == 15 || tag == 29) {  /* DT_RPATH, DT_RUNPATH */
        std::string path = readtext(f, str.off + val, str.size - val);
        size_t start = 0;
        for (size_t colon; (colon = path.find(':', start)) != std::string::npos; start = colon + 1)
          im->runpath.push_back(path.substr(start, colon - start));
        im->runpath.push_back(path.substr(start));
      }
    }
    return;
  }
}


/* Whether the dynamic symbol table defines name for others to bind to:
** not undefined, bound globally, weakly or uniquely, and visible outside.
** The table and its strings are each read whole, bounded by MAX_TABLE. */
static int elfexports(FILE *f, const unsigned char *h, const std::string &name) {
  ElfSections es;
  if (!elfsections(f, h, &es)) return 0;
  for (unsigned i = 0; i < es.count; i++) {
    ElfSection s = elfsection(es, i);
    if (s.type != 11) continue;  /* SHT_DYNSYM */
    if (s.link >= es.count || s.size > MAX_TABLE) return 0;
    ElfSection str = elfsection(es, s.link);
    if (str.size > MAX_TABLE) return 0;
    std::string syms((size_t)s.size, '\0'), strs((size_t)str.size, '\0');
    if (!readat(f, s.off, &syms[0], syms.size()) || !readat(f, str.off, &strs[0], strs.size()))
      return 0;
    size_t step = es.wide ? 24 : 16, want = name.size() + 1;  /* with its terminator */
    for (size_t at = 0; at + step <= syms.size(); at += step) {
      const unsigned char *sym = (const unsigned char *)syms.data() + at;
      uint64_t nameat = glue_le(sym, 4);
      unsigned info = sym[es.wide ? 4 : 12], other = sym[es.wide ? 5 : 13];
      unsigned shndx = (unsigned)glue_le(sym + (es.wide ? 6 : 14), 2);
      unsigned bind = info >> 4, visibility = other & 3;
      if (shndx == 0) continue;  /* SHN_UNDEF: only imported */
      if (bind != 1 && bind != 2 && bind != 10) continue;  /* GLOBAL, WEAK, GNU_UNIQUE */
      if (visibility != 0 && visibility != 3) continue;  /* DEFAULT, PROTECTED */
      if (nameat < strs.size() && strs.size() - nameat >= want &&
          memcmp(strs.data() + nameat, name.c_str(), want) == 0)
        return 1;
    }
    return 0;
  }
  return 0;
}


/* The section table of a PE image, 40 bytes a section. */
static int pesections(FILE *f, const GluePE &pe, std::string *sec) {
  sec->assign((size_t)pe.sections * 40, '\0');
  return pe.sections != 0 &&
         readat(f, (uint64_t)pe.at + GLUE_PE_OPTIONAL + pe.optsize, &(*sec)[0], sec->size());
}


/* The file offset of address rva, through the section that holds it. */
static int peoffset(const std::string &sec, uint64_t rva, uint64_t *off) {
  for (size_t at = 0; at + 40 <= sec.size(); at += 40) {
    const unsigned char *s = (const unsigned char *)sec.data() + at;
    uint64_t va = glue_le(s + 12, 4), vsize = std::max(glue_le(s + 8, 4), glue_le(s + 16, 4));
    if (rva >= va && rva < va + vsize) {
      *off = glue_le(s + 20, 4) + (rva - va);
      return 1;
    }
  }
  return 0;
}


/* PE: the names in the import table (data directory 1). */
static void readpe(FILE *f, Image *im) {
  GluePE pe;
  long entry;
  uint32_t rva, size;
  std::string sec;
  if (!glue_pe_read(f, &pe)) return;
  im->machine = (int)glue_le(pe.b + 4, 2);  /* the file header's Machine */
  if (!glue_pe_directory(&pe, 1, &entry, &rva, &size) || rva == 0 || !pesections(f, pe, &sec))
    return;
  for (int i = 0; i < 4096; i++) {
    uint64_t at, nameat;
    unsigned char d[20];
    if (!peoffset(sec, rva + (uint64_t)i * 20, &at) || !readat(f, at, d, sizeof d)) return;
    uint64_t name = glue_le(d + 12, 4);
    if (name == 0) return;  /* the closing all-zero entry */
    if (peoffset(sec, name, &nameat)) im->needed.push_back(readtext(f, nameat, 256));
  }
}


/* Whether name is in the export directory's (data directory 0) name
** pointer table.  Each name is read on its own: the table is bounded by
** MAX_TABLE, the names lie wherever their addresses say. */
static int peexports(FILE *f, const std::string &name) {
  GluePE pe;
  long entry;
  uint32_t rva, size;
  std::string sec;
  uint64_t at;
  unsigned char d[40];
  if (!glue_pe_read(f, &pe) || !glue_pe_directory(&pe, 0, &entry, &rva, &size) || rva == 0 ||
      !pesections(f, pe, &sec) || !peoffset(sec, rva, &at) || !readat(f, at, d, sizeof d))
    return 0;
  uint64_t count = glue_le(d + 24, 4);  /* NumberOfNames */
  if (count == 0 || count > MAX_TABLE / 4 || !peoffset(sec, glue_le(d + 32, 4), &at)) return 0;
  std::string names((size_t)count * 4, '\0');
  if (!readat(f, at, &names[0], names.size())) return 0;
  std::string got(name.size() + 1, '\0');  /* with its terminator */
  for (size_t i = 0; i < count; i++) {
    uint64_t nameat;
    if (peoffset(sec, glue_le((const unsigned char *)names.data() + i * 4, 4), &nameat) &&
        readat(f, nameat, &got[0], got.size()) && memcmp(got.data(), name.c_str(), got.size()) == 0)
      return 1;
  }
  return 0;
}


/* 'E' for an ELF image, 'P' for a PE one, 0 for anything else. */
static int kindof(FILE *f, const unsigned char *h) {
  GluePE pe;
  if (memcmp(h, "\x7f" "ELF", 4) == 0) return 'E';
  return glue_pe_read(f, &pe) ? 'P' : 0;
}


/* The image at path, open, with its first bytes in h and its kind in
** *kind.  A file that cannot be opened ends the tool: it was found. */
static FILE *openimage(const std::string &path, unsigned char h[64], int *kind) {
  FILE *f = fopen(path.c_str(), "rb");
  if (f == NULL) die("cannot open %s: %s", path.c_str(), strerror(errno));
  *kind = readat(f, 0, h, 64) ? kindof(f, h) : 0;
  return f;
}


Image readimage(const std::string &path) {
  Image im;
  unsigned char h[64];
  FILE *f = openimage(path, h, &im.kind);
  if (im.kind == 'E') readelf(f, h, &im);
  else if (im.kind == 'P') readpe(f, &im);
  fclose(f);
  return im;
}


int executable(const std::string &path) {
  unsigned char h[64];
  int kind;
  fclose(openimage(path, h, &kind));
  return kind != 0;
}


int exportsymbol(const std::string &path, const std::string &name) {
  unsigned char h[64];
  int kind, found = 0;
  FILE *f = openimage(path, h, &kind);
  if (kind == 'E') found = elfexports(f, h, name);
  else if (kind == 'P') found = peexports(f, name);
  fclose(f);
  return found;
}
