// noargv.cpp: starts a program with an empty argument vector (no argv[0]).
//
// "noargv PROGRAM" runs PROGRAM so.  "noargv" alone tells what a program
// started so receives, since some kernels put an empty name in argv[0]:
// it prints "none" or "empty".
#include <stdio.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc == 0 || (argc == 1 && argv[0][0] == '\0')) {  /* started by ourselves */
    puts(argc == 0 ? "none" : "empty");
    return 0;
  }
  char *none[] = {NULL};
  if (argc == 1) {
    execv("/proc/self/exe", none);
  } else if (argc == 2) {
    execv(argv[1], none);
  } else {
    fprintf(stderr, "usage: noargv [PROGRAM]\n");
    return 2;
  }
  perror("noargv: execv");
  return 2;
}
