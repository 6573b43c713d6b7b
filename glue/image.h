// image.h: what an executable image, ELF or PE, says about its loading.
#ifndef OVREL_GLUE_IMAGE_H
#define OVREL_GLUE_IMAGE_H

#include <string>
#include <vector>

struct Image {
  int kind = 0;                      /* 'E' for ELF, 'P' for PE, 0 for no image */
  std::vector<std::string> needed;   /* library names, as the file gives them */
  std::vector<std::string> runpath;  /* ELF only, $ORIGIN not yet filled in */
  std::string soname;                /* ELF only, empty where it gives none */
  int machine = 0;                   /* ELF e_machine or PE Machine: the architecture */
};

/* What the file at path loads; kind 0 and nothing else for a file that is
** no image.  A file that cannot be opened ends the tool. */
Image readimage(const std::string &path);

/* Whether path is an executable image, ELF or PE, as a launcher must be. */
int executable(const std::string &path);

/* 1 when the image at path defines the symbol name and exports it, as a
** file holding several C modules exports each one's luaopen_ function;
** 0 otherwise, also for a file that is no image.  A file that cannot be
** opened ends the tool. */
int exportsymbol(const std::string &path, const std::string &name);

#endif /* OVREL_GLUE_IMAGE_H */
