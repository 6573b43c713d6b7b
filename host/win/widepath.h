/* widepath.h: wide-character file names beyond MAX_PATH on Windows.
**
** A name of MAX_PATH characters or more reaches its file only as a full
** name behind the "\\?\" prefix, which lifts the limit and every rewriting
** of the name.  The launcher, for its own file, and the engine's file
** calls both write the prefix here.  Plain C: the engine includes it. */
#ifndef OVREL_WIDEPATH_H
#define OVREL_WIDEPATH_H

#include <string.h>
#include <wchar.h>
#include <windows.h>

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

#endif /* OVREL_WIDEPATH_H */
