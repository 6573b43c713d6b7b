// wildcards_win.cpp: the launcher's start-up expands wildcards in its
// arguments.
//
// Windows hands a program its command line as one string and leaves
// wildcards to the program; the start-up code of MinGW-w64 expands the
// unquoted ones into matching file names when this is set, as users of a
// console program there expect.  Only the launcher links it: the glue
// tool's own arguments hold "?" and "*" of its own (-I dir/?.lua, -m a.*).
extern "C" {
int _dowildcard = -1;
}
