-- Statistics, clearing, value search, size and conversion of whole maps.
local check = require "check"
local nh = require "numhash"
local mt = getmetatable(nh.new())

check.case("attrib counts entries, empty buckets and deleted ones", function()
  local m = nh.new()
  local a = nh.attrib(m)
  check.eq(a.count, 0); check.eq(a.capacity, 8); check.eq(a.empty, 8)
  check.eq(a.void, 0); check.eq(a.loadfactor, 0); check.eq(a.utilization, 1)
  check.eq(#check.keys(a), 6, "exactly six fields")

  for i = 1, 4 do m[i] = "v" end
  nh.purge(m, 3); nh.purge(m, 4)
  a = nh.attrib(m)
  check.eq(a.count, 2); check.eq(a.capacity, 8)
  check.eq(a.loadfactor, 0.25, "whatever the number of deleted buckets")
  check.eq(a.empty, 4); check.eq(a.void, 2, "the deleted buckets")
  check.eq(a.utilization, 0.75)
end)

check.case("attrib counts only the buckets a small table has", function()
  local m = nh.new(1)  -- 4 buckets in a word of 16
  m[1] = "x"
  local a = nh.attrib(m)
  check.eq(a.capacity, 4); check.eq(a.empty, 3); check.eq(a.void, 0)
  local big = nh.new(1000)
  for i = 1, 500 do big[i * 0.25] = "v" end
  for i = 1, 100 do nh.purge(big, i * 0.25) end
  a = nh.attrib(big)
  check.eq(a.count, 400); check.eq(a.capacity, 1024)
  check.eq(a.empty, 1024 - 500); check.eq(a.void, 100)
end)

check.case("cleanse empties a map in place and twice in a row is harmless", function()
  local m = nh.new()
  for i = 1, 5 do m[i] = "v" .. i end
  nh.cleanse(m)
  check.eq(#m, 0)
  check.eq(mt.__empty(m), true); check.eq(mt.__filled(m), false)
  local a = nh.attrib(m)
  check.eq(a.count, 0); check.eq(a.capacity, 8); check.eq(a.empty, 8)
  check.eq(nh.iterate(m)(), nil)
  check.eq(select("#", nh.cleanse(m)), 0, "no results")
  check.eq(#m, 0)
  m[2] = "again"
  check.eq(m[2], "again")
  check.eq(#m, 1)
end)

check.case("size, empty and filled follow the count", function()
  local m = nh.new()
  check.eq(#m, 0); check.eq(mt.__size(m), 0)
  check.eq(mt.__empty(m), true); check.eq(mt.__filled(m), false)
  m[1.5] = "x"
  check.eq(#m, 1)
  check.eq(mt.__empty(m), false); check.eq(mt.__filled(m), true)
end)

check.case("value search: has and in agree, notin is their negation", function()
  local m = nh.new()
  m[1] = "apple"; m[2] = "pear"; m[3] = "apple"; m[4] = ""; m[5] = "pea"
  for _, s in ipairs({ "apple", "pear", "", "pea", "peach", "1", "appl", "apple " }) do
    local has = nh.has(m, s)
    check.eq(mt.__in(s, m), has, s)
    check.eq(mt.__notin(s, m), not has, s)
  end
  check.eq(nh.has(m, "pear"), true)
  check.eq(nh.has(m, "1"), false, "keys are not searched")
  check.eq(nh.has(m, "pe"), false, "whole values only")
  check.eq(nh.has(m, "apple\0junk"), true, "the search string ends at its zero byte")
  nh.purge(m, 1)
  check.eq(nh.has(m, "apple"), true, "still held under another key")
  nh.purge(m, 3)
  check.eq(nh.has(m, "apple"), false)
  nh.purge(m, 4)
  check.eq(nh.has(m, ""), false, "the empty string only when stored")
end)

check.case("value search checks the map first, then the string", function()
  local m = nh.new()
  check.raises("bad argument #2 to 'has' (string expected, got number)", function() return nh.has(m, 1) end)
  check.raises("bad argument #1 to 'has' (numhash expected, got string)", function() return nh.has("x", m) end)
  check.raises("bad argument #1 to 'has' (numhash expected, got number)", function() return nh.has(1, 2) end)
  check.raises("~bad argument #2 to '%?' %(numhash expected, got string%)", mt.__in, m, "x")
  check.raises("~bad argument #1 to '%?' %(string expected, got number%)", mt.__notin, 5, m)
end)

check.case("totable returns a fresh table of the entries that shares nothing", function()
  local m = nh.new()
  local nzero = -1 / math.huge
  m[1] = "a"; m[2.5] = "b"; m[-3] = "c"; m[nzero] = "z"
  local t = nh.totable(m)
  check.eq(#check.keys(t), 4)
  check.eq(t[1], "a"); check.eq(t[2.5], "b"); check.eq(t[-3], "c"); check.eq(t[0], "z")
  t[1] = "changed"; t[99] = "new"
  check.eq(m[1], "a"); check.eq(m[99], nil); check.eq(#m, 4)
  check.truthy(nh.totable(m) ~= t, "a new table each call")
  check.eq(next(nh.totable(nh.new())), nil)
end)

check.case("totable of a map with a NaN key raises the runtime's error and changes nothing", function()
  local m = nh.new()
  m[1] = "a"
  m[0 / 0] = "nan"
  check.raises("~table index is NaN", nh.totable, m)
  check.eq(#m, 2)
  check.eq(m[1], "a")
end)

check.case("whole-map operations reject other values with the runtime's message", function()
  for _, name in ipairs({ "attrib", "cleanse", "iterate", "totable" }) do
    check.raises("~numhash expected, got table", nh[name], {})
    check.raises("~numhash expected, got no value", nh[name])
  end
  check.raises("~numhash expected, got nil", mt.__size, nil)
end)

check.done()
