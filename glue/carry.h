// carry.h: the files a program carries inside it (--include, --onefile),
// written before its script and read back.
#ifndef OVREL_GLUE_CARRY_H
#define OVREL_GLUE_CARRY_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "srdata.h"

/* One carried file. */
struct Carry {
  std::string name;   /* its name inside: "data/words.txt", "ssl.so" */
  std::string from;   /* the file it is read from, when writing */
  unsigned kind = DATA_FILE;
  int64_t size = 0;
  uint32_t at = 0;    /* its offset in the program, when read back */
};

/* The files that --include names (each "PATH" or "PATH=NAME"), a folder
** walked whole, sorted by name; folder is the script's, which default
** names are relative to.  Refuses a name that climbs out of that folder,
** a path that is neither file nor folder, and a name given twice; the
** hidden entries a folder walk leaves out are named in notes. */
std::vector<Carry> includedfiles(const std::vector<std::string> &args, const std::string &folder,
                                 std::vector<std::string> *hidden);

/* Adds the file from, carried as name, of a kind (DATA_FILE, DATA_NATIVE);
** refuses one it cannot measure or a name longer than the index holds. */
void carryfile(std::vector<Carry> *out, const std::string &name, const std::string &from, unsigned kind);

/* The bytes carried files add to a program: theirs, the index, the record. */
int64_t carriedsize(const std::vector<Carry> &files);

/* Writes the files, their index and the record to out. */
void writecarried(FILE *out, const std::vector<Carry> &files);

/* The files the program open in f (path, trailer glue) carries, in the
** order of their bytes; refuses a damaged index. */
std::vector<Carry> readcarried(FILE *f, const char *path, const Glue &glue);

#endif /* OVREL_GLUE_CARRY_H */
