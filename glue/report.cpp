// report.cpp: the one report and exit, and the removal of what is
// half-written when the tool stops short.
#include "report.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#if defined(_WIN32)
#include <direct.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

HalfWritten halfwritten;

static const char prefix[] = "ovrelglue: ";  /* of every line the tool writes to stderr */


static void report(const char *fmt, va_list ap) {
  fflush(stdout);
  fputs(prefix, stderr);
  vfprintf(stderr, fmt, ap);
  fputc('\n', stderr);
}


[[noreturn]] void die(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  report(fmt, ap);
  va_end(ap);
  droptemp();
  exit(EXIT_FAILURE);
}


void keepnote(std::string *notes, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(NULL, 0, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  notes->append(prefix);
  size_t at = notes->size();
  notes->resize(at + (size_t)n + 1);
  va_start(ap, fmt);
  vsnprintf(&(*notes)[at], (size_t)n + 1, fmt, ap);
  va_end(ap);
  (*notes)[at + (size_t)n] = '\n';
}


void tellnotes(const std::string &notes) {
  fflush(stdout);
  fwrite(notes.data(), 1, notes.size(), stderr);
}


static int dropfolder(const char *path) {
#if defined(_WIN32)
  return _rmdir(path);
#else
  return rmdir(path);
#endif
}


void droptemp(void) {
  HalfWritten &h = halfwritten;
  if (!h.file.empty()) remove(h.file.c_str());
  h.file.clear();
  for (size_t i = h.made.size(); i-- > 0;)
    if (remove(h.made[i].c_str()) != 0) dropfolder(h.made[i].c_str());
  h.made.clear();
  if (!h.folder.empty()) dropfolder(h.folder.c_str());
  h.folder.clear();
  releasestops();
}


/* A handler could not remove a folder safely; held signals need none.
** Signals that were held or ignored before stay as they were. */
#if !defined(_WIN32)
static sigset_t held, before;
static int holding;

void holdstops(void) {
  if (holding) return;
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGHUP);
  sigprocmask(SIG_BLOCK, &stops, &before);
  sigemptyset(&held);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction now;
    if (sigaction(sig, NULL, &now) == 0 && now.sa_handler == SIG_IGN) continue;
    if (!sigismember(&before, sig)) sigaddset(&held, sig);
  }
  holding = 1;
}

void releasestops(void) {
  if (!holding) return;
  holding = 0;
  sigprocmask(SIG_SETMASK, &before, NULL);  /* a pending one is delivered here */
}

void checkstops(void) {
  sigset_t pending;
  if (!holding || sigpending(&pending) != 0) return;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    if (!sigismember(&held, sig) || !sigismember(&pending, sig)) continue;
    droptemp();  /* releases: the signal ends the tool */
    exit(EXIT_FAILURE);
  }
}
#else
void holdstops(void) {}
void releasestops(void) {}
void checkstops(void) {}
#endif
