-- under_luajit.lua SCRIPT [ARGS]: runs a script-level test under LuaJIT.
--
-- One difference is allowed for: LuaJIT keeps no caller for a tail call,
-- so an argument error raised in `return nh.f(...)` names its function
-- '?' where lua5.1 names it.  Everything else must hold as it stands.
local check = require "check"
local raises = check.raises
function check.raises(expected, fn, ...)
  if not pcall(raises, expected, fn, ...) then
    raises((expected:gsub("^(bad argument #%d+ to )'[^']+'", "%1'?'")), fn, ...)
  end
end

local script = ...
arg = {[0] = script, select(2, ...)}
assert(loadfile(script))(select(2, ...))
