-- one_engine.lua: the module runs on the engine of the process that loads
-- it, and maps no second one.  Run by each interpreter that carries its
-- engine inside (lua5.1, luajit), with the module folder on LUA_CPATH.
local check = require "check"

check.case("the module works on this engine", function()
  local m = require("numhash").new()
  for i = 1, 1000 do m[i / 4] = tostring(i) end
  check.eq(#m, 1000)
  check.eq(m[250], "1000")
  local n = 0
  for _ in require("numhash").iterate(m) do n = n + 1 end
  check.eq(n, 1000)
end)

check.case("no engine library is mapped beside the interpreter's own", function()
  local engines, runtime = {}, false
  for line in io.lines("/proc/self/maps") do
    local file = line:match("%s(/%S+)$")
    if file then
      local name = file:match("[^/]*$")
      if name:match("^liblua") then engines[name] = true end
      if name:match("^libovrel%.so") then runtime = true end
    end
  end
  check.truthy(runtime, "the runtime library is mapped")
  check.eq(next(engines), nil, "engine library mapped")
end)

check.done()
