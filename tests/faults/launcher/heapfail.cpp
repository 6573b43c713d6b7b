// heapfail.cpp: a process-wide failing heap for a test twin of the launcher.
//
// Linked into the program itself, these definitions take the place of the C
// library's malloc family for every allocation in the process: the
// launcher's, the runtime's and the C library's own.  With OVREL_FAILAT=n in
// the environment the n-th allocation made after start-up fails; when the
// process ends, the number of allocations made is written to the file named
// by OVREL_HEAPLOG, so that a driver knows when n has passed the last one.
// Start-up allocations of the loaded libraries come before the count starts.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern "C" {
void *__libc_malloc(size_t n);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *p, size_t n);
void __libc_free(void *p);
}

static bool armed;
static unsigned long failat, made;


static bool fails() {
  if (!armed) return false;
  return ++made == failat;
}


extern "C" void *malloc(size_t n) {
  if (fails()) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_malloc(n);
}


extern "C" void *calloc(size_t count, size_t size) {
  if (fails()) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_calloc(count, size);
}


/* A realloc to size 0 frees: no allocation, nothing to fail. */
extern "C" void *realloc(void *p, size_t n) {
  if (n != 0 && fails()) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_realloc(p, n);
}


extern "C" void free(void *p) { __libc_free(p); }


/* Runs after the libraries' own constructors, before main. */
__attribute__((constructor)) static void arm() {
  const char *n = getenv("OVREL_FAILAT");
  failat = n ? strtoul(n, nullptr, 10) : 0;
  made = 0;
  armed = true;
}


/* Writes the count with plain system calls: stdio would allocate. */
__attribute__((destructor)) static void tell() {
  const char *log = getenv("OVREL_HEAPLOG");
  if (!log) return;
  armed = false;
  char text[32];
  int len = snprintf(text, sizeof text, "%lu\n", made);
  int fd = open(log, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  if (write(fd, text, (size_t)len) != len) {}
  close(fd);
}
