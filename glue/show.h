// show.h: what a self-running program carries, shown or written back.
#ifndef OVREL_GLUE_SHOW_H
#define OVREL_GLUE_SHOW_H

/* Prints the script's offset, length and first line, and every bundled
** module. */
int showprogram(const char *path);

/* The folder below an extraction's top that the script of a bundle goes
** to. */
#define SCRIPT_FOLDER "script.d"

/* Writes the main script (into SCRIPT_FOLDER for a bundle) and every
** bundled module into dir, byte for byte as they were read; dir must be new
** or empty, and is made whole or not at all. */
int extractprogram(const char *path, const char *dir);

#endif /* OVREL_GLUE_SHOW_H */
