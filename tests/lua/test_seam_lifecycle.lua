-- Map creation and release when the module's heap fails or is watched.
local check = require "check"
local nh = require "numhash"
local heap = require "numhash.heapfail"

check.case("a new map that cannot get its record raises, one without buckets is unsized", function()
  local base = heap.live()
  heap.failat(1)
  check.raises("Error in `numhash.new`: memory allocation failed.", nh.new)
  heap.failat(2)  -- the record succeeds, its first bucket array does not
  local m = nh.new(64)
  heap.failat(0)
  check.eq(nh.attrib(m).capacity, 0)
  check.eq(tostring(m), "numhash(0)")
  check.eq(m[1], nil)
  check.eq(nh.include(m, 1, "x"), true)
  check.eq(nh.attrib(m).capacity, 4, "the first include sizes it")
  m = nil
  collectgarbage("collect")
  check.eq(heap.live(), base, "nothing left allocated")
end)

check.case("collecting maps frees every value once, and the arrays", function()
  collectgarbage("collect")
  local base = heap.live()
  do
    local maps = {}
    for i = 1, 20 do
      local m = nh.new(i)
      for k = 1, i * 7 do m[k / 3] = string.rep("v", k) end
      for k = 1, i * 2 do nh.purge(m, k / 3) end
      maps[i] = m
    end
    check.truthy(heap.live() > base + 20 * 4, "values and arrays are live")
  end
  collectgarbage("collect")
  collectgarbage("collect")
  check.eq(heap.live(), base, "live blocks after collection")
end)

check.done()
