// report.h: the glue tool's one report and exit, and what a refusal leaves
// behind: nothing.  Every other file of the tool may use it; it uses none.
#ifndef OVREL_GLUE_REPORT_H
#define OVREL_GLUE_REPORT_H

#include <string>
#include <vector>

/* Writes "ovrelglue: message" to stderr, removes whatever is half-written
** and exits with status 1. */
[[noreturn]] void die(const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/* Lines "ovrelglue: message" for the summary, kept to be told on stderr at
** once: a job makes what it has to say before its output gets its name,
** so nothing can fail after. */
void keepnote(std::string *notes, const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void tellnotes(const std::string &notes);

/* What is half-written: the temporary output, or the private folder an
** extraction fills and what has been made in it, in order.  The writing
** code keeps it; die and a stop signal remove it. */
struct HalfWritten {
  std::string file;
  std::string folder;
  std::vector<std::string> made;
};
extern HalfWritten halfwritten;

/* Removes what is half-written and forgets it; releases held signals. */
void droptemp(void);

/* While something is half-written, the signals that stop the tool are
** held (holdstops) and looked at between writes (checkstops): one that has
** arrived removes what is half-written, then takes its usual course.
** releasestops ends the hold once the output has its name. */
void holdstops(void);
void checkstops(void);
void releasestops(void);

#endif /* OVREL_GLUE_REPORT_H */
