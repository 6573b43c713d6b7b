-- one_engine.lua: the module runs on the engine of the interpreter that
-- loads it and maps no second one.  Run by lua5.1 and luajit, which carry
-- their engine inside, with the module folder on LUA_CPATH.
local check = require "check"

check.case("the module works and no engine library is mapped", function()
  local m = require("numhash").new()
  m[0.5] = "half"
  check.eq(m[0.5], "half")
  local mapped = {}
  for line in io.lines("/proc/self/maps") do
    local name = line:match("/([^/%s]+)$")
    if name then mapped[name:match("^lib[%w_]+") or name] = true end
  end
  check.truthy(mapped.libovrel, "the runtime library is mapped")
  check.eq(mapped.liblua5 or mapped.libluajit, nil, "an engine library is mapped")
end)

check.done()
