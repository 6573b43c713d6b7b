// show.h: what a self-running program carries, shown or written back.
#ifndef OVREL_GLUE_SHOW_H
#define OVREL_GLUE_SHOW_H

/* Prints the script's offset, length and first line, and every bundled
** module. */
int showprogram(const char *path);

/* Writes the main script and every bundled module under dir, byte for
** byte as they were read; refuses to replace an existing file. */
int extractprogram(const char *path, const char *dir);

#endif /* OVREL_GLUE_SHOW_H */
