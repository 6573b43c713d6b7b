-- Creating, printing and releasing maps; the module's surface.
local check = require "check"
local numhash = require "numhash"

local function capacity(m) return numhash.attrib(m).capacity end

check.case("module table and metatable hold exactly the registered names", function()
  check.eq(table.concat(check.keys(numhash), " "),
           "attrib cleanse getitem has include iterate new purge resize totable")
  local mt = getmetatable(numhash.new())
  local own = {}
  -- the stand-in wires two events to the engine's operators as well, and
  -- an engine may add its own
  local wired = { __newindex = true, __len = true, __name = check.engine.names,
                  __pairs = check.engine.pairs, __close = check.engine.close }
  for k in pairs(mt) do
    if not wired[k] then own[#own + 1] = k end
  end
  table.sort(own)
  check.eq(table.concat(own, " "),
           "__empty __filled __gc __in __index __notin __size __tostring __writeindex")
  check.eq(mt.__pairs, check.engine.pairs and numhash.iterate or nil, "pairs() walks with iterate")
  check.eq(mt.__close, check.engine.close and mt.__gc or nil, "closing a map releases it")
  check.eq(mt.__name, check.engine.names and "numhash" or nil)
  check.eq(mt.__newindex, mt.__writeindex, "index assignment runs __writeindex")
  local m = numhash.new()
  check.eq(mt.__writeindex(m, 1, "x"), true, "__writeindex answers as include does")
  check.eq(mt.__writeindex(m, 1, "y"), false)
  check.eq(mt.__len, mt.__size, "the length operator runs __size")
  check.eq(package.loaded.numhash, numhash)
end)

check.case("new sizes round up to powers of two, at least 4", function()
  check.eq(capacity(numhash.new()), 8)
  local sizes = { [1] = 4, [4] = 4, [5] = 8, [8] = 8, [9] = 16, [16] = 16,
                  [100] = 128, [1000] = 1024 }
  for size, cap in pairs(sizes) do check.eq(capacity(numhash.new(size)), cap, "new(" .. size .. ")") end
  check.eq(capacity(numhash.new(nil)), 8, "nil is the default")
end)

check.case("new rejects sizes that are not positive integers", function()
  check.raises("bad argument #1 to 'new' (positive integer expected)", function() return numhash.new(0) end)
  check.raises("bad argument #1 to 'new' (positive integer expected)", function() return numhash.new(-3) end)
  check.raises("bad argument #1 to 'new' (positive integer expected)", function() return numhash.new(2.5) end)
  check.raises("bad argument #1 to 'new' (positive integer expected)", function() return numhash.new(2^31) end)
  check.raises("bad argument #1 to 'new' (number expected, got string)", function() return numhash.new("8") end)
  check.raises("bad argument #1 to 'new' (number expected, got table)", function() return numhash.new({}) end)
end)

check.case("maps print their type name and entry count", function()
  local m = numhash.new()
  check.eq(tostring(m), "numhash(0)")
  numhash.include(m, 1, "a"); numhash.include(m, 2, "b"); numhash.include(m, 3, "c")
  check.eq(tostring(m), "numhash(3)")
  check.raises("~bad argument #1 to '%?' %(numhash expected, got table%)",
               getmetatable(m).__tostring, {})
end)

check.case("each map gets its own empty environment table", function()
  local a, b = numhash.new(), numhash.new()
  local ea, eb = numhash.getitem(a), numhash.getitem(b)
  check.eq(type(ea), "table")
  check.truthy(ea ~= eb, "distinct environments")
  check.eq(next(ea), nil, "empty")
  check.eq(numhash.getitem(a), ea, "the same table every time")
end)

check.case("a map released by an explicit __gc is rejected by every operation", function()
  local m = numhash.new()
  m[1] = "one"
  local gc = getmetatable(m).__gc
  gc(m)
  check.eq(getmetatable(m), nil, "metatable removed")
  check.eq(gc(numhash.new()), nil, "__gc returns nothing")
  local msg = "~numhash expected, got userdata"
  for _, name in ipairs({ "attrib", "cleanse", "getitem", "iterate", "resize", "totable" }) do
    check.raises(msg, numhash[name], m, 1)
  end
  check.raises(msg, numhash.include, m, 1, "x")
  check.raises(msg, numhash.purge, m, 1)
  check.raises(msg, numhash.has, m, "one")
  check.raises(msg, gc, m)
  check.raises("~attempt to index", function() return m[1] end)
  check.raises("~attempt to get length", function() return #m end)
end)

check.done()
