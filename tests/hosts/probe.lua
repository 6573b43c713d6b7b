-- probe.lua: the test host runs scripts as the stock interpreter does.
-- Run as: <host> probe.lua one "two words"
local check = require "check"
local args = {...}
local nargs = select("#", ...)

local function status(cmd)
  local s = os.execute(cmd .. " 2>/dev/null")
  return s >= 256 and s / 256 or s  -- a wait status from system()
end

local function output(cmd)
  local f = io.popen(cmd .. " 2>&1")
  local text = f:read("*a")
  f:close()
  return text
end

local host = arg[-1]

check.case("arg holds the script at 0, its arguments from 1, the host at -1", function()
  check.eq(arg[0], "probe.lua")
  check.eq(arg[1], "one")
  check.eq(arg[2], "two words")
  check.eq(#arg, 2)
  check.eq(type(host), "string")
end)

check.case("the arguments are the chunk's varargs", function()
  check.eq(nargs, 2)
  check.eq(args[1], "one")
  check.eq(args[2], "two words")
end)

check.case("package paths come from LUA_PATH and LUA_CPATH", function()
  check.eq(package.path, os.getenv("LUA_PATH"))
  check.eq(package.cpath, os.getenv("LUA_CPATH"))
  local nh = require "numhash"
  check.eq(tostring(nh.new()), "numhash(0)")
end)

check.case("all standard libraries are open", function()
  for _, lib in ipairs {"string", "table", "math", "io", "os", "debug", "package", "coroutine"} do
    check.eq(type(_G[lib]), "table", lib)
  end
end)

check.case("exit statuses: 0 at the end, os.exit's own, 1 for an error", function()
  check.eq(status(host .. " child.lua end"), 0)
  check.eq(status(host .. " child.lua exit"), 3)
  check.eq(status(host .. " child.lua raise"), 1)
  check.eq(status(host .. " child.lua table"), 1)
  check.eq(status(host .. " missing-script.lua"), 1)
end)

check.case("an error is reported once, with a traceback", function()
  local text = output(host .. " child.lua raise")
  check.truthy(text:find("child.lua:%d+: boom\nstack traceback:\n"), "message and traceback: " .. text)
  local _, reports = text:gsub("boom", "")
  check.eq(reports, 1, "reports")
  check.truthy(output(host .. " child.lua table"):find("%(error object is not a string%)"),
               "a non-string error object")
  check.truthy(output(host .. " missing-script.lua"):find("cannot open missing%-script.lua"),
               "a missing script")
end)

check.done()
