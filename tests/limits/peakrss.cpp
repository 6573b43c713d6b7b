// peakrss.cpp: runs a program and reports its peak resident memory.
//
//   peakrss PROGRAM [ARGS...]
// prints the child's maximum resident set size in kilobytes on stdout and
// exits with the child's exit status (128 + signal when it was killed).
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>


int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: peakrss PROGRAM [ARGS...]\n");
    return 2;
  }
  pid_t pid = fork();
  if (pid < 0) {
    perror("peakrss: fork");
    return 2;
  }
  if (pid == 0) {
    execv(argv[1], argv + 1);
    perror("peakrss: exec");
    _exit(127);
  }
  int status;
  struct rusage use;
  if (wait4(pid, &status, 0, &use) < 0) {
    perror("peakrss: wait");
    return 2;
  }
  printf("%ld\n", use.ru_maxrss);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}
