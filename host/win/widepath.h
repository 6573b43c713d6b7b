/* widepath.h: wide-character file names beyond MAX_PATH on Windows.
**
** A name of MAX_PATH characters or more reaches its file only as a full
** name behind the "\\?\" prefix, which lifts the limit and every rewriting
** of the name.  The launcher, for its own file, and the engine's file
** calls (lwinpath.c) both write the prefix and read the program's own
** name here.  Plain C: the engine's side includes it. */
#ifndef OVREL_WIDEPATH_H
#define OVREL_WIDEPATH_H

#include <string.h>
#include <wchar.h>
#include <windows.h>

/* No name the system takes is longer (with a "\\?\UNC\" prefix). */
#define WIDEPATH_MAX 32768

/* Characters kept free before a name for the prefix: "\\?\UNC" takes the
** place of the first "\" of a \\server\share name. */
#define WIDEPATH_ROOM 6

/* Whether the full name needs the prefix: long and not already a device
** or prefixed name. */
static inline int widepath_limited(const wchar_t *name) {
  return wcslen(name) >= MAX_PATH && wcsncmp(name, L"\\\\?\\", 4) != 0 &&
         wcsncmp(name, L"\\\\.\\", 4) != 0;
}

/* Turns the full name at block + WIDEPATH_ROOM into the prefixed name at
** block itself. */
static inline void widepath_prefix(wchar_t *block) {
  wchar_t *name = block + WIDEPATH_ROOM;
  if (name[0] == L'\\' && name[1] == L'\\') {  /* \\server\share: \\?\UNC\server */
    memcpy(block, L"\\\\?\\UNC", 7 * sizeof(wchar_t));
  } else {
    memmove(block + 4, name, (wcslen(name) + 1) * sizeof(wchar_t));
    memcpy(block, L"\\\\?\\", 4 * sizeof(wchar_t));
  }
}

/* One try at the running program's module file name, into name, of *size
** characters.  Returns 1 when it fits; 0 when the system names no file, or
** one longer than any it takes; -1 when the name was cut short (it fills
** the buffer): *size is doubled for the next try.  The buffer is the
** caller's, since each allocates its own way. */
static inline int widepath_module(wchar_t *name, DWORD *size) {
  DWORD n = GetModuleFileNameW(NULL, name, *size);
  if (n > 0 && n < *size) return 1;
  if (n == 0 || *size >= WIDEPATH_MAX) return 0;
  *size *= 2;
  return -1;
}

#endif /* OVREL_WIDEPATH_H */
