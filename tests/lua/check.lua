-- check.lua: a small harness for the script-level tests.
--
--   local check = require "check"
--   check.case("name", function() check.eq(1, 1) end)
--   check.done()   -- exits with status 1 when a case failed
local check = {}

local failures, cases = 0, 0

local function show(v)
  if type(v) == "string" then return string.format("%q", v) end
  return tostring(v)
end

local function fail(msg, level)
  error(msg, (level or 1) + 2)
end

function check.eq(actual, expected, what)
  if actual ~= expected and not (actual ~= actual and expected ~= expected) then
    fail(string.format("%s: expected %s, got %s", what or "value", show(expected), show(actual)))
  end
end

function check.truthy(v, what)
  if not v then fail((what or "condition") .. " does not hold") end
end

-- Calls fn(...) and expects an error whose message, without the position
-- prefix the engine adds, is exactly `expected`; or matches it when
-- `expected` starts with "~".
function check.raises(expected, fn, ...)
  local ok, err = pcall(fn, ...)
  if ok then fail("expected the error " .. show(expected) .. ", but the call succeeded") end
  err = tostring(err)
  local bare = err:gsub("^[^:]*:%d+: ", "")
  if expected:sub(1, 1) == "~" then
    if not err:find(expected:sub(2)) then
      fail("expected an error matching " .. show(expected:sub(2)) .. ", got " .. show(err))
    end
  elseif bare ~= expected then
    fail("expected the error " .. show(expected) .. ", got " .. show(err))
  end
end

-- What differs by engine, asked of the engine itself.
check.engine = {
  -- the name an argument error gives a function of a library that pcall
  -- calls directly, the library being global and loaded as string is: "?"
  -- on 5.1, "lib.name" where the engine looks it up
  pcallname = function(lib, name)
    local _, err = pcall(string.rep)
    local got = err:match("to '([^']*)'")
    return got == "string.rep" and lib .. "." .. name or got
  end,
  -- pairs() asks the metatable (5.2 on)
  pairs = (function()
    local asked = false
    pairs(setmetatable({}, { __pairs = function(t) asked = true; return next, t end }))
    return asked
  end)(),
  -- variables closed at the end of their scope (5.4)
  close = (loadstring or load)("local x <close> = nil") ~= nil,
  -- metatables that carry their type's name (5.3 on)
  names = getmetatable(io.stdout).__name ~= nil,
}

-- An object that calls fn when it is collected, on every engine.
function check.finalized(fn)
  if newproxy then
    local p = newproxy(true)
    getmetatable(p).__gc = fn
    return p
  end
  return setmetatable({}, { __gc = fn })
end

-- Sorted list of the keys of a table, for comparing sets of entries.
function check.keys(t)
  local ks = {}
  for k in pairs(t) do ks[#ks + 1] = k end
  table.sort(ks)
  return ks
end

function check.case(name, fn)
  cases = cases + 1
  local ok, err = pcall(fn)
  if ok then
    io.write("ok   ", name, "\n")
  else
    failures = failures + 1
    io.write("FAIL ", name, "\n     ", tostring(err), "\n")
  end
end

function check.done()
  io.write(string.format("%d cases, %d failed\n", cases, failures))
  if cases == 0 or failures > 0 then os.exit(1) end
end

return check
