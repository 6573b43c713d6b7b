// make.cpp: making a self-running program: the launcher's image, the
// chunk, the trailer.
//
// By default the chunk is the script with its modules bundled (bundle.cpp):
// every module it requires by a literal name, and every module those
// require, found as Lua source through the search path.  What is not found
// that way (native modules, optional ones) is no error: the program will
// look for it where it runs, and the summary says so.  Every file is
// compiled before anything is written, so a program that cannot start is
// never made.
#include "make.h"

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <utility>

#include "bundle.h"
#include "carry.h"
#include "deps.h"
#include "engine.h"
#include "files.h"
#include "image.h"
#include "writing.h"
#include "glue.h"
#include "search.h"
#include "selfpath.h"
#include "signature.h"


static int endswith_exe(const char *path) {
  size_t n = strlen(path);
  if (n < 4) return 0;
  const char *e = path + n - 4;
  return e[0] == '.' && (e[1] | 0x20) == 'e' && (e[2] | 0x20) == 'x' && (e[3] | 0x20) == 'e';
}


/* The script as the launcher will load it, refused unless it compiles. */
static Compiled checkcompiles(const std::string &text, const std::string &chunkname) {
  Compiled c = compilescript(text, chunkname.c_str());
  if (!c.message.empty()) die("%s", c.message.c_str());
  return c;
}


static std::string joined(const std::vector<std::string> &names) {
  std::string s;
  for (const std::string &n : names) s += (s.empty() ? "" : ", ") + n;
  return s;
}


/* A module met only by a walk that does not compile, and why. */
struct Left {
  std::string name, source, message;
};


/* A call of require: in which module ("" for the script), where. */
struct Site {
  std::string in;
  std::string file;
  Require r;
};


static std::string where(const Site &s) {
  return s.r.line > 0 ? s.file + ":" + std::to_string(s.r.line) : s.file;
}


/* What following the requires found. */
struct Gathered {
  std::vector<Module> found;         /* bundled, in order */
  std::vector<std::string> missing;  /* required, not found as Lua source */
  std::vector<Site> sites;           /* every call of require read */
  std::vector<std::string> named;    /* -m NAME */
  std::vector<Left> unfit;
  std::vector<std::string> sealed;   /* precompiled, not read whole */
};


/* Adds the requires of one file to the sites, and the new names to queue. */
static void addsites(const std::vector<Require> &needs, const std::string &in, const std::string &file,
                     std::vector<Site> *sites, std::vector<std::string> *queue) {
  for (const Require &r : needs) {
    sites->push_back(Site{in, file, r});
    if (!r.name.empty() && !has(*queue, r.name)) queue->push_back(r.name);
  }
}


/* Follows the requires from the script through every module found.  A
** file met only by walking a prefix that does not compile may be meant for
** another engine (loaded behind a version test): it is left out, unless a
** literal require or -m names it.  A precompiled module whose calls
** cannot all be read (stripped of the names of its locals) is listed in
** `sealed`. */
static void gather(const Job &job, const Compiled &script, const std::string &scriptfile,
                   const char *folder, Gathered *g) {
  std::vector<Module> *found = &g->found;
  std::vector<std::string> *missing = &g->missing, *sealed = &g->sealed;
  std::vector<Site> *sites = &g->sites;
  std::vector<Left> *unfit = &g->unfit;
  std::vector<std::string> templates = searchpath(job.includes, folder);
  std::vector<std::string> queue;
  addsites(script.needs, "", scriptfile, sites, &queue);
  std::vector<std::string> named = queue, walked;

  /* -m: each name must be there; a prefix must give at least one. */
  for (const std::string &m : job.modules) {
    Module probe;
    if (m.size() > 2 && m.compare(m.size() - 2, 2, ".*") == 0) {
      std::string prefix = m.substr(0, m.size() - 2);
      std::vector<std::string> under = walkprefix(templates, prefix);
      if (under.empty()) die("no module below %s in the search path (-m %s)", prefix.c_str(), m.c_str());
      for (const std::string &u : under)
        if (!has(queue, u)) queue.push_back(u), walked.push_back(u);
    } else if (!goodname(m) || !findmodule(templates, m, &probe)) {
      die("module %s is not found as Lua source in the search path (-m %s)", m.c_str(), m.c_str());
    } else {
      named.push_back(m);
      g->named.push_back(m);
      if (!has(queue, m)) queue.push_back(m);
    }
  }

  std::vector<Left> left;
  for (size_t i = 0; i < queue.size(); i++) {
    std::string name = queue[i];
    Module m;
    if (launchermodule(name)) continue;
    if (!goodname(name) || !findmodule(templates, name, &m)) {
      missing->push_back(name);
      continue;
    }
    /* A walk can meet one file under two names ("a" as a/init.lua and
    ** "a.init"): it is bundled once. */
    if (has(walked, name) &&
        std::any_of(found->begin(), found->end(), [&](const Module &f) { return f.source == m.source; }))
      continue;
    Compiled c = compilemodule(m.text, ("@" + m.source).c_str());
    if (!c.message.empty()) {
      if (!has(walked, name)) die("%s", c.message.c_str());
      left.push_back({name, m.source, c.message});
      continue;
    }
    if (!c.whole) sealed->push_back(name);
    for (const Require &r : c.needs)
      if (!r.name.empty()) named.push_back(r.name);
    addsites(c.needs, name, m.source, sites, &queue);
    found->push_back(m);
  }
  for (const Left &l : left) {
    if (has(named, l.name)) die("%s", l.message.c_str());
    unfit->push_back(l);
  }
}


static std::string readscript(const Job &job) {
  if (strcmp(job.script, "-") == 0) return readstdin();
  int64_t len;
  FILE *f = openfile(job.script, &len);
  fitstrailer(job.script, len);
  std::string text = readbytes(f, job.script, len);
  fclose(f);
  return text;
}


/* The missing names that are no error: left for the target to find
** (--system-modules), left out on purpose (--allow-missing), optional.  A
** literal require of anything else would fail where the program runs, so
** it is refused here, each with where it is required. */
struct Unmet {
  std::vector<std::string> elsewhere, allowed, optional;
};

/* The calls a program cannot do without: those outside a pcall, in the
** script, or in a module that itself is required that way or named by -m.
** A module reached only through a pcall, or only by walking a prefix, may
** fail to load: what it requires may be missing too (a module that picks
** among libraries by trying them). */
static std::vector<const Site *> needed(const Gathered &g) {
  std::vector<std::string> modules = g.named;
  std::vector<const Site *> out;
  modules.insert(modules.begin(), "");
  for (size_t i = 0; i < modules.size(); i++)
    for (const Site &s : g.sites)
      if (s.in == modules[i] && !s.r.optional && !s.r.name.empty()) {
        if (std::none_of(out.begin(), out.end(), [&](const Site *o) { return o->r.name == s.r.name; }))
          out.push_back(&s);
        if (!has(modules, s.r.name)) modules.push_back(s.r.name);
      }
  return out;
}


static Unmet unmet(const Job &job, const Gathered &g, const Natives &natives) {
  Unmet u;
  std::string refused;
  std::vector<const Site *> musts = needed(g);
  for (const std::string &name : g.missing) {
    if (has(natives.found, name)) continue;
    auto site = std::find_if(musts.begin(), musts.end(), [&](const Site *s) { return s->r.name == name; });
    if (job.systemmodules) u.elsewhere.push_back(name);
    else if (has(job.allowmissing, name)) u.allowed.push_back(name);
    else if (site == musts.end()) u.optional.push_back(name);
    else refused += (refused.empty() ? "" : ", ") + name + " (" + where(**site) + ")";
  }
  if (!refused.empty())
    die("neither bundled nor found as a native module: %s; the program would not find %s where it "
        "runs (--allow-missing NAME ships without one, --system-modules looks for them there)",
        refused.c_str(), refused.find(',') == std::string::npos ? "it" : "them");
  return u;
}


static void summary(std::string *notes, const std::string &output, const Gathered &g, const Unmet &u) {
  if (!g.found.empty()) {
    std::vector<std::string> names;
    for (const Module &m : g.found) names.push_back(m.name);
    keepnote(notes, "%s: bundled %lu module%s: %s", output.c_str(), (unsigned long)g.found.size(),
         g.found.size() == 1 ? "" : "s", joined(names).c_str());
  }
  if (!g.sealed.empty())
    keepnote(notes, "%s: precompiled without debug data, so the modules they require were not looked "
         "for: %s", output.c_str(), joined(g.sealed).c_str());
  std::vector<std::string> computed;
  for (const Site &s : g.sites)
    if (s.r.name.empty() && !has(computed, where(s))) computed.push_back(where(s));
  if (!computed.empty())
    keepnote(notes, "%s: requires by a computed name, whose modules only -m NAME or -m 'PREFIX.*' "
             "bundles, at %s", output.c_str(), joined(computed).c_str());
  if (!u.elsewhere.empty())
    keepnote(notes, "%s: not bundled, looked for where it runs: %s", output.c_str(), joined(u.elsewhere).c_str());
  if (!u.allowed.empty())
    keepnote(notes, "%s: not shipped, as asked (--allow-missing): %s", output.c_str(), joined(u.allowed).c_str());
  if (!u.optional.empty())
    keepnote(notes, "%s: optional (required in a pcall or by an optional module), not found: %s",
             output.c_str(), joined(u.optional).c_str());
  for (const Left &l : g.unfit)
    keepnote(notes, "%s: left out, does not compile: %s (%s)", output.c_str(), l.name.c_str(), l.message.c_str());
}


static void travelnote(std::string *notes, const std::string &output, const std::vector<Dep> &deps, int copied) {
  if (deps.empty()) return;
  std::vector<std::string> names;
  for (const Dep &d : deps) names.push_back(d.rel);
  keepnote(notes, copied ? "%s: copied beside it, as it needs them where it runs: %s"
              : "%s: needs beside it where it runs (--with-deps copies them): %s",
       output.c_str(), joined(names).c_str());
}


/* What follows the writing in the report: the script's own notes, what
** was bundled and what was not, and what travels beside the program. */
static void summarise(std::string *notes, const Job &job, const std::string &output,
                      const Compiled &script, const std::string &text, int droppedline,
                      const Gathered &g, const Unmet &u, const std::vector<Dep> &deps) {
  if (droppedline)
    keepnote(notes, "%s: the script's \"#\" line is left out: the launcher runs a precompiled "
             "chunk only without it", output.c_str());
  summary(notes, output, g, u);
  std::vector<std::string> needs;
  for (const Require &r : script.needs)
    if (!r.name.empty()) needs.push_back(r.name);
  if (!job.plain && precompiled(text) && (!script.whole || !needs.empty() || !job.modules.empty()))
    keepnote(notes, "%s: the script is precompiled, so nothing is bundled into it; the modules it "
             "requires must travel beside the program%s%s", output.c_str(), needs.empty() ? "" : ": ",
             joined(needs).c_str());
  travelnote(notes, output, deps, job.withdeps);
}


/* The prelude's part that tells where the program looks for modules. */
static void sealing(Bundle *b, const Job &job, int kind, const Natives &natives) {
  b->kind = job.systemmodules ? BUNDLE_SYSTEM : BUNDLE_SEALED;
  b->path = kind == 'P' ? "!\\?.lua;!\\?\\init.lua" : "!/?.lua;!/?/init.lua";
  b->cpath = kind == 'P' ? "!\\?.dll" : "!/?.so";
  b->preload = natives.preload;
  for (const Dep &d : natives.deps) (job.onefile ? b->carried : b->beside).push_back(d.rel);
  /* One file looks nowhere on disk. */
  if (job.onefile && !job.systemmodules) b->path = b->cpath = "";
}


/* --onefile: every native module and library the program loads is carried
** inside it.  Only the loader of the launcher's own platform loads a
** library from memory, and the launcher's own libraries are loaded before
** any of the program is read. */
static void carrynatives(const Job &job, const Image &launcher, const Natives &natives,
                         std::vector<Carry> *carried) {
  if (launcher.kind != 'E')
    die("--onefile carries native modules for Linux launchers only: Windows loads a library "
        "only from a file of its own; ship the folder that --with-deps makes");
  if (natives.launcherdeps > 0)
    die("--onefile needs a launcher with the runtime inside, as ovrelrun-standalone: %s loads %s "
        "from a file before it starts", job.launcher, natives.deps[0].rel.c_str());
  for (const Dep &d : natives.deps) carryfile(carried, d.rel, d.from, DATA_NATIVE);
}


static void carrynote(std::string *notes, const std::string &output, const std::vector<Carry> &carried,
                      const std::vector<std::string> &hidden) {
  std::vector<std::string> natives;
  int64_t bytes = 0;
  size_t files = 0;
  for (const Carry &c : carried) {
    if (c.kind == DATA_NATIVE) natives.push_back(c.name);
    else files++, bytes += c.size;
  }
  if (files > 0)
    keepnote(notes, "%s: carries %lu included file%s, %lld bytes", output.c_str(), (unsigned long)files,
             files == 1 ? "" : "s", (long long)bytes);
  if (!hidden.empty())
    keepnote(notes, "%s: not included, hidden or a folder reached through a link: %s", output.c_str(),
             joined(hidden).c_str());
  if (!natives.empty())
    keepnote(notes, "%s: carried inside it and loaded from memory (--onefile): %s", output.c_str(),
             joined(natives).c_str());
}


/* The launcher: an executable image that carries no script of its own. */
static FILE *openlauncher(const char *path, int64_t *image) {
  FILE *l = openfile(path, image);
  Glue glue;
  long at;
  if (!executable(path)) die("%s is no launcher: it is not an executable image", path);
  if (trailer(l, path, *image, &glue, &at))
    die("%s carries a script of its own; name a bare launcher", path);
  fitstrailer(path, *image);
  return l;
}


/* The output must not be one of the files read (the script, the launcher
** or a module, bundled or left out), nor anything but a file. */
static void checkoutput(const std::string &target, const std::string &output, const Job &job,
                        const std::vector<Module> &found, const std::vector<Left> &unfit) {
  if (strcmp(job.script, "-") != 0 && samefile(target.c_str(), job.script))
    die("%s is the script itself; choose another output", output.c_str());
  if (samefile(target.c_str(), job.launcher))
    die("%s is the launcher itself; choose another output", output.c_str());
  std::vector<std::pair<const std::string *, const std::string *>> modules;
  for (const Module &m : found) modules.push_back({&m.source, &m.name});
  for (const Left &m : unfit) modules.push_back({&m.source, &m.name});
  for (const auto &m : modules)
    if (samefile(target.c_str(), m.first->c_str()))
      die("%s is the module %s itself; choose another output", output.c_str(), m.second->c_str());
  replaceable(target, output.c_str());  /* named as the user wrote it */
}


int makeprogram(const Job &job) {
  int fromstdin = strcmp(job.script, "-") == 0;
  std::string text = readscript(job);
  int64_t image;
  FILE *l = openlauncher(job.launcher, &image);

  /* Windows starts only a program whose name has an extension.  The
  ** script's name in a bundle reads back on either platform. */
  std::string output = job.output ? job.output : fromstdin ? "stdin" : job.script;
  int addexe = job.output && endswith_exe(job.launcher) && !selfpath_hasext(job.output);
  if (addexe) output += ".exe";
  std::string target = throughlink(output.c_str());

  /* The engine runs a precompiled chunk behind a "#" line; the launcher
  ** only without it, as the line's newline would start a text chunk. */
  size_t second = hashline(text);
  int droppedline = second != 0 && second != std::string::npos && precompiled(text.substr(second, 4));
  if (droppedline) text.erase(0, second);
  Compiled script = checkcompiles(text, fromstdin ? "=stdin" : std::string("@") + job.script);

  /* A script given through a link is searched from the file it leads to,
  ** where its modules are. */
  std::string real = fromstdin ? "" : throughlink(job.script);
  std::string dir(real, 0, folderlen(real));
  const char *scriptdir = fromstdin ? NULL : dir.c_str();
  Gathered g;
  std::string chunk = text;
  int bundling = !job.plain && !precompiled(text) && hashline(text) != std::string::npos;
  if (bundling) gather(job, script, fromstdin ? "stdin" : job.script, scriptdir, &g);
  Image launcher = readimage(job.launcher);
  Natives natives = travellers(job.launcher, launcher,
                               nativepath(scriptdir, job.tooldir, job.launcher, launcher.kind), g.missing);
  Unmet u = unmet(job, g, natives);
  std::vector<std::string> hidden;
  std::vector<Carry> carried = includedfiles(job.carry, scriptdir && *scriptdir ? scriptdir : ".", &hidden);
  if (job.onefile) carrynatives(job, launcher, natives, &carried);
  if (bundling) {
    Bundle b;
    b.script = fromstdin ? "stdin.lua" : std::string(job.script + folderlen(job.script, 1));
    b.modules = g.found;
    sealing(&b, job, launcher.kind, natives);
    chunk = makebundle(b, text);
    std::string message = compilescript(chunk, "=").message;
    if (!message.empty()) die("the bundled program does not compile: %s", message.c_str());
    fitstrailer("the bundled program", (int64_t)chunk.size());
  }
  const std::vector<Dep> &deps = job.onefile ? std::vector<Dep>() : natives.deps;
  int64_t carriedbytes = carriedsize(carried);
  fitstrailer("the program with what it carries", image + carriedbytes + (int64_t)chunk.size());
  /* Everything to say is made before the program gets its name. */
  std::string notes;
  summarise(&notes, job, output, script, text, droppedline, g, u, deps);
  carrynote(&notes, output, carried, hidden);
  if (!job.check) {
    checkoutput(target, output, job, g.found, g.unfit);
    /* What travels beside the program is copied first: the program appears
    ** only once all it needs is there. */
    if (job.withdeps) {
      checkdeps(deps, target);
      copydeps(deps, target);
    }
    FILE *out = maketemp(target);
    int signaturedropped = copyimage(l, job.launcher, out, &image);
    writecarried(out, carried);
    putbytes(out, chunk.data(), chunk.size());
    Glue glue;
    memcpy(glue.sig, GLUE_SIG, GLUE_SIGLEN);
    glue_put32(glue.size1, (int32_t)(image + carriedbytes));
    glue_put32(glue.size2, (int32_t)chunk.size());
    putbytes(out, &glue, sizeof glue);
    std::string written;  /* said first */
    if (addexe)
      keepnote(&written, "wrote %s: \".exe\" added, without which Windows does not start it", output.c_str());
    if (signaturedropped)
      keepnote(&written, "%s: the launcher's signature is not carried over; sign %s after gluing",
               output.c_str(), output.c_str());
    notes.insert(0, written);
    finish(out, target);
  }
  fclose(l);
  tellnotes(notes);
  return 0;
}
