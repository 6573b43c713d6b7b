-- Iteration order, iterators over changing maps, and released maps.
local check = require "check"
local nh = require "numhash"

-- The home bucket of a key, computed from its IEEE-754 bits with plain
-- arithmetic: the XOR of the two 32-bit halves, masked to the capacity.
local function halves(x)
  if x == 0 then return 0, (1 / x < 0) and 2^31 or 0 end
  local sign = 0
  if x < 0 then sign, x = 2^31, -x end
  local m, e = math.frexp(x)            -- x = m * 2^e with 0.5 <= m < 1
  local frac = (m * 2 - 1) * 2^52       -- the 52 stored mantissa bits
  local hi = sign + (e + 1022) * 2^20 + math.floor(frac / 2^32)
  return frac % 2^32, hi
end

local function bxor(a, b)
  local r, bit = 0, 1
  for _ = 1, 32 do
    local x, y = a % 2, b % 2
    if x ~= y then r = r + bit end
    a, b, bit = (a - x) / 2, (b - y) / 2, bit * 2
  end
  return r
end

local function home(key, capacity)
  local lo, hi = halves(key)
  return bxor(lo, hi) % capacity
end

-- Buckets that inserting keys into an empty table of that capacity gives
-- (no growth): triangular probing from home to the first free bucket.
local function placements(keys, capacity)
  local taken, at = {}, {}
  for _, k in ipairs(keys) do
    local i, step = home(k, capacity), 0
    while taken[i] do step = step + 1; i = (i + step) % capacity end
    taken[i] = true
    at[#at + 1] = { bucket = i, key = k }
  end
  table.sort(at, function(a, b) return a.bucket < b.bucket end)
  return at
end

local function walk(m)
  local keys = {}
  for k in nh.iterate(m) do keys[#keys + 1] = k end
  return keys
end

check.case("the bit arithmetic gives the homes of known keys", function()
  check.eq(home(1, 8), 0); check.eq(home(-1023, 2048), 0)
  check.eq(home(1.5, 2^20), 2^19, "1.5 has the top mantissa bit in HI")
  local lo, hi = halves(2^-30 + 1)
  check.eq(lo, 2^22); check.eq(hi, 1023 * 2^20)
end)

check.case("iteration follows the bucket order of placement", function()
  local keys = {}
  for i = 1, 600 do keys[i] = (i * 7919) % 1000 / 8 + i * 2^-20 end
  local m = nh.new(1024)
  for _, k in ipairs(keys) do m[k] = tostring(k) end
  check.eq(nh.attrib(m).capacity, 1024, "no growth")
  local want = placements(keys, 1024)
  local got = walk(m)
  check.eq(#got, #want)
  for i, p in ipairs(want) do check.eq(got[i], p.key, "position " .. i) end
  local n = 0
  for k, v in pairs(nh.totable(m)) do n = n + 1; check.eq(v, tostring(k)) end
  check.eq(n, 600)
end)

check.case("small integers land along bucket 0's probe sequence, and growth re-places them", function()
  local m = nh.new()
  for i = 1, 6 do m[i] = "v" end
  check.eq(table.concat(walk(m), " "), "1 2 5 3 4 6")   -- buckets 0 1 2 3 6 7
  m[7] = "v"                                            -- doubles to 16 first
  check.eq(table.concat(walk(m), " "), "1 2 5 7 3 4 6") -- buckets 0 1 3 5 6 10 15
end)

check.case("an iterator ends with nil and keeps answering nil", function()
  local m = nh.new()
  local it = nh.iterate(m)
  check.eq(it(), nil); check.eq(it(), nil)
  m[1] = "a"
  local k, v = it()
  check.eq(k, 1, "an entry at or after the position shows up later")
  check.eq(v, "a")
  check.eq(it(), nil)
  check.eq(select("#", it()), 1, "one nil")
end)

check.case("entries added at or after the position are seen, deleted ones skipped", function()
  local m = nh.new(64)
  local keys = { 3, 1e10, 0.1, 17.5, -2, 1e-5 }
  for _, k in ipairs(keys) do m[k] = "v" end
  local order = walk(m)
  local it = nh.iterate(m)
  check.eq(it(), order[1])
  nh.purge(m, order[3])
  check.eq(it(), order[2])
  check.eq(it(), order[4], "the deleted entry is skipped")
  -- a key whose bucket lies after everything walked so far
  local after
  for _, cand in ipairs({ 1e300, 5e-300, 7.77, 123456.5, -9.25, 2^40 + 1 }) do
    local p = placements({ cand }, 64)[1].bucket
    local last = placements({ order[4] }, 64)[1].bucket
    if p > last and m[cand] == nil then after = cand; break end
  end
  if after then
    m[after] = "late"
    local seen = false
    for k in it do if k == after then seen = true end end
    check.truthy(seen, "the late entry is returned")
  end
end)

check.case("iterators advance independently", function()
  local m = nh.new()
  for i = 1, 5 do m[i * 10] = "v" end
  local a, b = nh.iterate(m), nh.iterate(m)
  local a1, b1 = a(), b()
  check.eq(a1, b1)
  local a2 = a()
  local a3 = a()
  check.eq(b(), a2, "b is one step behind")
  check.eq(b(), a3)
end)

check.case("an iterator past the end of a rebuilt map ends at once", function()
  local m = nh.new(64)
  for i = 1, 40 do m[i + 0.5] = "v" end
  local it = nh.iterate(m)
  local n = 0
  while it() do n = n + 1 end
  check.eq(n, 40)
  for i = 1, 36 do nh.purge(m, i + 0.5, true) end
  check.eq(nh.attrib(m).capacity, 8)
  m[100.5] = "new"
  check.eq(it(), nil, "its position is beyond the new capacity")
end)

check.case("an iterator keeps its map alive", function()
  local it
  do
    local m = nh.new()
    m[1] = "kept"
    it = nh.iterate(m)
  end
  collectgarbage("collect")
  local k, v = it()
  check.eq(k, 1); check.eq(v, "kept")
end)

check.case("an iterator over a map released by a script answers nil", function()
  local m = nh.new()
  for i = 1, 20 do m[i] = string.rep("x", i) end
  local it = nh.iterate(m)
  check.eq(it(), 1)
  getmetatable(m).__gc(m)
  check.eq(it(), nil)
  check.eq(it(), nil)
  -- and the same when the release is the collector's, reached from a
  -- finalizer that runs after the map's own
  local proxy, late
  do
    local m2 = nh.new()
    m2[1] = "gone"
    local it2 = nh.iterate(m2)
    proxy = check.finalized(function() late = { it2() } end)
    nh.getitem(m2).proxy = proxy   -- map, proxy and iterator die together
  end
  proxy = nil
  collectgarbage("collect")
  collectgarbage("collect")
  check.truthy(late ~= nil, "the finalizer ran")
end)

check.done()
