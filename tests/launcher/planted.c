/* planted.c: a library planted in the folder a program is started from,
** under the names of the libraries and modules it loads.  Loading it at
** all is the fault: it says so and ends the process. */
#include <stdio.h>
#include <unistd.h>

__attribute__((constructor)) static void planted(void) {
  fputs("planted library loaded\n", stderr);
  _exit(97);
}
