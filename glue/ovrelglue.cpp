// ovrelglue.cpp: makes a self-running program from the launcher and a
// script, bundling the Lua modules the script requires; shows and extracts
// what a program carries.
//
// This file is the tool's face: the usage and the options (doargs), and
// which job they ask for.  The jobs live in make.cpp (making a program),
// show.cpp (--show, --extract), bundle.cpp (the modules inside a chunk),
// search.cpp and bytecode.cpp (finding them), deps.cpp (what travels beside
// a program), files.cpp (reading) and writing.cpp (safe writing).  Every
// refusal goes through report.cpp: one line "ovrelglue: ..." and exit
// status 1, with nothing written; so does running out of memory.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <stdexcept>
#include <string>

extern "C" {
#include <lua.h>
}

#include "files.h"
#include "glue.h"
#include "make.h"
#include "selfpath.h"
#include "show.h"

#ifndef OVRELGLUE_LAUNCHER
#define OVRELGLUE_LAUNCHER "ovrelrun"
#endif
#ifndef OVRELGLUE_VERSION
#define OVRELGLUE_VERSION ""
#endif

static const char usage[] =
    "usage: ovrelglue SCRIPT -o OUTPUT [-I TEMPLATE]... [-m NAME]... [--plain] [--launcher PATH]\n"
    "                 [--with-deps | --onefile] [--system-modules] [--allow-missing NAME]...\n"
    "                 [--include PATH[=NAME]]...\n"
    "       ovrelglue SCRIPT --check [-o OUTPUT] [-I TEMPLATE]... [-m NAME]... [--launcher PATH]\n"
    "       ovrelglue --show FILE\n"
    "       ovrelglue --extract FILE DIR\n"
    "       ovrelglue --help | --version\n"
    "\n"
    "Writes OUTPUT as a self-running program: the launcher, then the script,\n"
    "then a 16-byte trailer; OUTPUT is marked executable.  Every Lua module that\n"
    "SCRIPT requires by a literal name, and every module those require, is\n"
    "bundled into the script; a native module must lie beside the program\n"
    "where it runs, and the summary on standard error names it.  The program\n"
    "looks for modules in its bundle and its own folder only, so a module\n"
    "required by a literal name that is neither bundled nor found as a native\n"
    "module is refused, unless its require is in a pcall.  Every file is\n"
    "compiled first: one that does not compile is refused.  SCRIPT - reads the\n"
    "script from standard input.\n"
    "\n"
    "  -o OUTPUT        the program to write (not -).  An OUTPUT that is a\n"
    "                   symbolic link is written through to the link's target;\n"
    "                   only a regular file is replaced, keeping its mode and\n"
    "                   owner.  Onto a launcher named *.exe, an OUTPUT without\n"
    "                   an extension gets .exe.\n"
    "  --check          compile and scan as for OUTPUT and print the summary,\n"
    "                   writing nothing\n"    "  -I TEMPLATE      look for modules through TEMPLATE (dir/?.lua; a folder\n"
    "                   stands for dir/?.lua and dir/?/init.lua) first, then in\n"
    "                   SCRIPT's folder (for a link, its target's), then through\n"
    "                   LUA_PATH or, unset, the engine's default path\n"
    "  -m NAME          bundle the module NAME too; NAME.* bundles every module\n"
    "                   below NAME in the folders searched\n"
    "  --plain          glue SCRIPT's bytes unchanged, bundling nothing\n"
    "  --launcher PATH  the launcher, instead of " OVRELGLUE_LAUNCHER " beside this tool:\n"
    "                   an executable image (ELF or PE) that carries no script\n"
    "  --with-deps      copy beside OUTPUT the files it needs where it runs: the\n"
    "                   runtime library its launcher links, the native modules\n"
    "                   it requires found on the module path (SCRIPT's folder,\n"
    "                   this tool's, then LUA_CPATH or the engine's default),\n"
    "                   and the libraries they load; a different file already\n"
    "                   there is not replaced.  Without it, the summary names them\n"
    "  --system-modules the program also searches the module folders of the\n"
    "                   machine it runs on (LUA_PATH, LUA_CPATH or the engine's\n"
    "                   defaults, after its own folder); a module not found here\n"
    "                   is then no error\n"
    "  --allow-missing NAME  ship without module NAME, which the program's\n"
    "                   literal require would not find\n"
    "  --include PATH[=NAME]  carry the file PATH, or every file below the\n"
    "                   folder PATH (hidden ones aside), inside the program as\n"
    "                   NAME, by default PATH's name below SCRIPT's folder; the\n"
    "                   program reads it with require \"ovrel.app\".read(NAME)\n"
    "  --onefile        carry the native modules the program needs, and the\n"
    "                   libraries they load, inside it: it loads them from\n"
    "                   memory and needs nothing beside it (Linux launchers)\n"
    "\n"
    "--show prints the offset, length and first line of the script that FILE\n"
    "carries, every module bundled in it and every file it carries, without\n"
    "running it.  --extract\n"
    "writes every module back into DIR, a new or empty folder, byte for byte,\n"
    "at its path below the folder it was found in, and the script as\n"
    "DIR/script.d/NAME, where it hides no module; a plain program's script as\n"
    "DIR/script.lua.  The files it carries go below the script's folder, at\n"
    "their names.  DIR is made whole or not at all.  To glue it again:\n"
    "ovrelglue DIR/script.d/NAME -I DIR --include DIR/script.d/FOLDER ...\n";


/* ------------------------------------------------------------------------
** Options
** --------------------------------------------------------------------- */

struct Args {
  Job job;
  const char *shown, *extracted, *into;
  int help, version;
};


/* Every option is one branch; a file name never starts with "-" except
** "-" itself, the standard input. */
static void doargs(int argc, char **argv, Args *a) {
  for (int i = 1; i < argc; i++) {
    const char *o = argv[i];
    if (strcmp(o, "--help") == 0 || strcmp(o, "-h") == 0) {
      a->help = 1;
    } else if (strcmp(o, "--version") == 0) {
      a->version = 1;
    } else if (strcmp(o, "--plain") == 0) {
      a->job.plain = 1;
    } else if (strcmp(o, "--with-deps") == 0) {
      a->job.withdeps = 1;
    } else if (strcmp(o, "--check") == 0) {
      a->job.check = 1;
    } else if (strcmp(o, "--onefile") == 0) {
      a->job.onefile = 1;
    } else if (strcmp(o, "--include") == 0) {
      if (i + 1 >= argc) die("--include needs a file or folder (try --help)");
      a->job.carry.push_back(argv[++i]);
    } else if (strcmp(o, "--system-modules") == 0) {
      a->job.systemmodules = 1;
    } else if (strcmp(o, "--allow-missing") == 0) {
      if (i + 1 >= argc) die("%s needs a module name (try --help)", o);
      a->job.allowmissing.push_back(argv[++i]);
    } else if (strcmp(o, "-I") == 0 || strcmp(o, "-m") == 0) {
      if (i + 1 >= argc) die("%s needs a %s (try --help)", o, o[1] == 'I' ? "template" : "module name");
      (o[1] == 'I' ? a->job.includes : a->job.modules).push_back(argv[++i]);
    } else if (strcmp(o, "-o") == 0 || strcmp(o, "--launcher") == 0 || strcmp(o, "--show") == 0) {
      if (i + 1 >= argc) die("%s needs a file name (try --help)", o);
      const char **slot = o[1] == 'o' ? &a->job.output : o[2] == 'l' ? &a->job.launcher : &a->shown;
      if (*slot) die("%s given twice (try --help)", o);
      *slot = argv[++i];
    } else if (strcmp(o, "--extract") == 0) {
      if (i + 2 >= argc) die("--extract needs a file and a folder (try --help)");
      if (a->extracted) die("--extract given twice (try --help)");
      a->extracted = argv[++i];
      a->into = argv[++i];
    } else if (o[0] == '-' && o[1] != '\0') {
      die("unknown option %s (try --help)", o);
    } else if (a->job.script) {
      die("more than one script: %s and %s (try --help)", a->job.script, o);
    } else {
      a->job.script = o;
    }
  }
}


/* This tool's folder with its separator, found the way the launcher finds
** itself; "" when it cannot be found. */
static std::string tooldir(const char *argv0) {
  char self[SELFPATH_MAX];
  if (argv0 == NULL || !selfpath(argv0, self, sizeof self)) return "";
  std::string path = self;
  path.resize(folderlen(path));
  return path;
}


static int run(int argc, char **argv) {
  Args a = {};
  doargs(argc, argv, &a);
  Job &job = a.job;
  int making = job.script || job.output || job.launcher || job.plain || job.withdeps || job.check ||
               job.systemmodules || !job.includes.empty() || !job.modules.empty() ||
               !job.allowmissing.empty() || !job.carry.empty() || job.onefile;
  if (a.help) {
    fputs(usage, stdout);
    return 0;
  }
  if (a.version) {
    const char *v = OVRELGLUE_VERSION;
    printf("ovrelglue %s (engine %s)\n", *v ? v : "(version unknown)", LUA_RELEASE);
    return 0;
  }
  if (a.shown) {
    if (making || a.extracted) die("--show takes nothing else (try --help)");
    return showprogram(a.shown);
  }
  if (a.extracted) {
    if (making) die("--extract takes nothing else (try --help)");
    return extractprogram(a.extracted, a.into);
  }
  if (job.script == NULL) die("no script given (try --help)");
  if (job.output == NULL && !job.check) die("no output given: -o OUTPUT (try --help)");
  if (job.check && job.withdeps) die("--check writes nothing: it takes no --with-deps");
  if (job.output && strcmp(job.output, "-") == 0)
    die("-o -: a program is not written to standard output; name a file");
  if (job.plain && (!job.includes.empty() || !job.modules.empty()))
    die("--plain bundles nothing: it takes no -I or -m");
  if (job.onefile && job.withdeps)
    die("--onefile carries inside the program what --with-deps copies beside it: take one");
  if (job.plain && job.onefile)
    die("--plain bundles nothing: it takes no --onefile");
  if (job.plain && (job.systemmodules || !job.allowmissing.empty()))
    die("--plain keeps the launcher's module paths: it takes no --system-modules or --allow-missing");
  std::string dir = tooldir(argv[0]);
  std::string beside = dir + OVRELGLUE_LAUNCHER;
  if (!job.launcher && dir.empty())
    die("cannot find this tool's own folder; name the launcher with --launcher");
  if (!job.launcher) job.launcher = beside.c_str();
  job.tooldir = dir.c_str();
  return makeprogram(job);
}


/* Memory that runs out anywhere ends the tool as any refusal does: its
** report, status 1, and nothing half-written left. */
int main(int argc, char **argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc &) {
  } catch (const std::length_error &) {  /* a string longer than memory allows */
  }
  die("not enough memory");
}
