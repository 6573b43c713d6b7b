-- Keyed operations when the module's heap fails.
local check = require "check"
local nh = require "numhash"
local heap = require "numhash.heapfail"

local function contents(m)
  local t, n = {}, 0
  for k, v in nh.iterate(m) do t[k] = v; n = n + 1 end
  return t, n
end

check.case("include that cannot copy the value stores nothing", function()
  local m = nh.new()
  m[1] = "one"
  local live = heap.live()
  heap.failat(1)  -- the copy of the value
  check.raises("Error in `numhash.include`: memory allocation failed.", nh.include, m, 2, "two")
  heap.failat(0)
  check.eq(heap.live(), live, "no block left behind")
  check.eq(#m, 1)
  check.eq(m[2], nil)
  check.eq(m[1], "one")
end)

check.case("include that cannot grow the table frees its copy and changes nothing", function()
  for n = 2, 4 do  -- the copy succeeds; the growth's flag, key or value array fails
    local m = nh.new(4)
    for i = 1, 3 do m[i] = "v" .. i end
    local before = nh.attrib(m)
    local live = heap.live()
    heap.failat(n)
    local ok, err = pcall(nh.include, m, 4, "four")
    heap.failat(0)
    check.eq(ok, false, "allocation " .. n .. " fails the include")
    check.eq(err, "Error in `numhash.include`: memory allocation failed.")
    local after = nh.attrib(m)
    check.eq(after.capacity, before.capacity)
    check.eq(after.count, 3)
    -- A keys array already enlarged may stay; nothing else may remain.
    check.eq(heap.live(), live)
    local t, count = contents(m)
    check.eq(count, 3)
    for i = 1, 3 do check.eq(t[i], "v" .. i) end
    check.eq(nh.include(m, 4, "four"), true, "works again once memory is back")
    check.eq(nh.attrib(m).capacity, 8)
  end
end)

check.case("a replaced value whose copy fails keeps the old value", function()
  local m = nh.new()
  m[5] = "old"
  heap.failat(1)
  check.raises("Error in `numhash.include`: memory allocation failed.", function() m[5] = "new" end)
  heap.failat(0)
  check.eq(m[5], "old")
end)

check.case("a shrink or resize that cannot allocate is silent", function()
  local m = nh.new(16)
  for i = 1, 6 do m[i] = "v" end
  heap.failat(1)
  check.eq(nh.purge(m, 6, true), true, "purge still reports the removal")
  heap.failat(0)
  check.eq(nh.attrib(m).capacity, 16)
  check.eq(#m, 5)
  heap.failat(1)
  local changed, cap = nh.resize(m, 100)
  heap.failat(0)
  check.eq(changed, false)
  check.eq(cap, 16)
  for i = 1, 5 do check.eq(m[i], "v") end
end)

check.case("an unsized map reads as empty and sizes itself on the first include", function()
  heap.failat(2)
  local m = nh.new()
  heap.failat(0)
  check.eq(nh.attrib(m).capacity, 0)
  check.eq(m[1], nil)
  check.eq(nh.purge(m, 1), false)
  local changed, cap = nh.resize(m, 0)
  check.eq(changed, true)
  check.eq(cap, 4)

  heap.failat(2)
  local u = nh.new()
  heap.failat(0)
  check.eq(nh.include(u, 1, "x"), true)
  check.eq(nh.attrib(u).capacity, 4)
end)

check.case("collected maps leave no block behind", function()
  collectgarbage("collect")
  check.eq(heap.live(), 0)
end)

check.done()
