// runas.cpp: starts a program under a name of the caller's choosing, the
// Windows stand-in for the shell's "exec -a".
//
//   runas FILE NAME [ARGS...]
//
// FILE is started with the command line NAME ARGS..., each word quoted so
// that the program's start-up code splits it back into the same words;
// the exit status is the program's.
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <string>


/* Appends one word, quoted when it has to be, in the quoting that the C
** start-up code undoes.  Bare words keep long command lines short. */
static void quote(std::string &line, const char *word) {
  if (*word != '\0' && strpbrk(word, " \t\"") == NULL) {
    line += word;
    return;
  }
  line += '"';
  size_t backslashes = 0;
  for (const char *p = word;; p++) {
    if (*p == '\\') {
      backslashes++;
      continue;
    }
    if (*p == '\0' || *p == '"') {  /* backslashes before a quote are doubled */
      line.append(backslashes * 2, '\\');
      if (*p == '\0') break;
      line += "\\\"";
    } else {
      line.append(backslashes, '\\');
      line += *p;
    }
    backslashes = 0;
  }
  line += '"';
}


int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: runas FILE NAME [ARGS...]\n");
    return 125;
  }
  std::string line;
  for (int i = 2; i < argc; i++) {
    if (i > 2) line += ' ';
    quote(line, argv[i]);
  }
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  if (!CreateProcessA(argv[1], &line[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
    fprintf(stderr, "runas: cannot start %s (error %lu)\n", argv[1], GetLastError());
    return 125;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(pi.hProcess, &status);
  return (int)status;
}
