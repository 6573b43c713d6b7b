-- refused.lua BUILT: run by an interpreter of another engine than BUILT
-- ("Lua 5.4"), with that engine's module on LUA_CPATH: require fails with
-- the runtime's words, naming the interpreter's engine as it names itself,
-- and nothing of the module was registered.
local built = assert(..., "usage: refused.lua BUILT")
local running = jit and "LuaJIT" or _VERSION  -- LuaJIT's _VERSION is "Lua 5.1"
local ok, err = pcall(require, "numhash")
local want = ("this module was built for %s and cannot run on %s: load the one built for %s")
  :format(built, running, _VERSION)
assert(not ok, "the module loaded")
assert(err == want, ("expected %q, got %q"):format(want, err))
assert(type(package.loaded.numhash) ~= "table" and rawget(_G, "numhash") == nil, "the module registered")
print("ok   " .. running .. " refuses the module built for " .. built)
