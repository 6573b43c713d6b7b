-- map_heap.lua: the map workload, run once for every allocation it makes,
-- with that allocation failing.
--
-- Run n makes the module's n-th allocation fail (numhash.heapfail) and
-- walks the workload.  The operation that meets the failure must end in
-- its own way: `new` and `include` raise their one message and leave every
-- map as it was; the first sizing of `new` leaves an unsized map; `resize`
-- answers false with the old capacity; a shrinking `purge` still removes
-- its entry and keeps the capacity, unless only the trimming of the arrays
-- failed, which still shrinks.  The run then goes on (a `new` that raised
-- is made again), so every later step shows that the maps work once memory
-- is back.  After every step each map is compared with a plain table of
-- what it must hold, through getitem, totable, iterate, has, attrib and
-- tostring.  After every run the maps are dropped and the module's live
-- blocks must be back where they started.  The runs stop at the first n
-- that the workload never reaches.  The whole loop runs twice: under the
-- shipped tuning of the lookup aids, and with every walk handed to them,
-- whose own heap never fails an operation.
local check = require "check"
local nh = require "numhash"
local heap = require "numhash.heapfail"

local NOMEM_NEW = "Error in `numhash.new`: memory allocation failed."
local NOMEM_INCLUDE = "Error in `numhash.include`: memory allocation failed."

local NEGZERO = -1 / math.huge  -- made at run time: constants fold -0 into 0
local ABSENT = -12345.5  -- a key the workload never stores

-- The capacity a requested size gives, and its occupancy bound.
local function sizefor(r)
  local n = 4
  while n < r do n = n * 2 end
  return n
end

local function limitfor(cap) return math.floor((77 * cap + 50) / 100) end


------------------------------------------------------------------------
-- A map together with the plain table it must equal
------------------------------------------------------------------------

local Run = {}
Run.__index = Run


local function newrun(failat)
  return setmetatable({failat = failat, maps = {}, hit = nil, steps = 0}, Run)
end


-- Calls fn(...) and notes whether the failing allocation fell inside it.
function Run:call(what, fn, ...)
  local before = heap.allocations()
  local res = {pcall(fn, ...)}
  local after = heap.allocations()
  local failed = before < self.failat and after >= self.failat
  if failed then
    check.eq(self.hit, nil, "a second operation met the one failure")
    self.hit = {what = what, nth = self.failat - before}
  end
  self.steps = self.steps + 1
  return failed, res
end


-- The map equals its model, by every way of reading it; none of them
-- allocates from the module's heap.
function Run:verify(m)
  local model = m.model
  local map = m.map
  local made = heap.allocations()
  check.eq(#map, model.n, "size")
  check.eq(tostring(map), "numhash(" .. model.n .. ")", "tostring")
  check.eq(map[ABSENT], nil, "a key never stored")
  local st = nh.attrib(map)
  check.eq(st.count, model.n, "attrib count")
  check.eq(st.capacity, m.capacity, "capacity")
  if st.capacity > 0 then
    check.truthy(st.count < limitfor(st.capacity) + 1, "count within the bound")
  end
  local t, seen = nh.totable(map), 0
  for k, v in pairs(t) do
    seen = seen + 1
    check.eq(v, model.entries[k], "totable value at " .. k)
  end
  check.eq(seen, model.n, "totable entries")
  local got, walked = {}, 0
  for k, v in nh.iterate(map) do
    walked = walked + 1
    check.eq(got[k], nil, "iterate returns each key once")
    got[k] = v
    check.eq(v, model.entries[k], "iterate value at " .. k)
    if k == 0 then check.eq(1 / k, model.zerosign, "sign of the stored zero") end
  end
  check.eq(walked, model.n, "iterated entries")
  for k, v in pairs(model.entries) do
    check.eq(map[k], v, "getitem " .. k)
    check.truthy(nh.has(map, v), "has " .. v)
  end
  check.eq(heap.allocations(), made, "reading a map allocates nothing")
end


function Run:verifyall()
  for _, m in ipairs(self.maps) do self:verify(m) end
end


-- After an operation raised: the message must be the one documented for
-- it, and every map must be as it was.
function Run:raised(failed, err, expected)
  check.truthy(failed, "an error without an allocation failure: " .. tostring(err))
  -- Raised below a Lua caller, the message carries the caller's position.
  check.eq(tostring(err):gsub("^[^:]*:%d+: ", ""), expected, "message")
  self:verifyall()
end


-- Blocks the maps must hold at least: each record, the three arrays of a
-- sized map, each value (the aids may hold more).
function Run:blocks()
  local n = 0
  for _, m in ipairs(self.maps) do
    n = n + 1 + m.model.n + (m.capacity > 0 and 3 or 0)
  end
  return n
end


function Run:new(size)
  local failed, res = self:call("new", nh.new, size)
  if not res[1] then
    -- Only the record itself is worth an error; a failed sizing is silent.
    check.truthy(not failed or self.hit.nth == 1, "new raised when its buckets failed")
    self:raised(failed, res[2], NOMEM_NEW)
    return self:new(size)
  end
  local map = res[2]
  local m = {map = map, model = {entries = {}, n = 0}}
  local cap = nh.attrib(map).capacity
  if failed and self.hit.nth > 1 then
    check.eq(cap, 0, "a map whose buckets could not be had is unsized")
  else
    check.eq(cap, sizefor(size or 8), "capacity of a new map")
  end
  m.capacity = cap
  self.maps[#self.maps + 1] = m
  self:verify(m)
  return m
end


-- Through the module function, or through index assignment when how is "[]".
function Run:include(m, k, v, how)
  local model = m.model
  local cap = m.capacity
  local failed, res
  if how == "[]" then
    failed, res = self:call("include", function() m.map[k] = v end)
  else
    failed, res = self:call("include", nh.include, m.map, k, v)
  end
  if not res[1] then return self:raised(failed, res[2], NOMEM_INCLUDE) end
  check.eq(failed, false, "an include that met a failure returned")
  local new = model.entries[k] == nil
  if how ~= "[]" then check.eq(res[2], new, "include result") end
  if new then
    model.n = model.n + 1
    if k == 0 then model.zerosign = 1 / k end
  end
  model.entries[k] = v:match("^[^%z]*")
  m.capacity = nh.attrib(m.map).capacity
  check.truthy(m.capacity == cap or m.capacity == 2 * cap or (cap == 0 and m.capacity == 4),
               "an include keeps or doubles the capacity")
  self:verify(m)
end


function Run:purge(m, k, shrink)
  local model = m.model
  local cap = m.capacity
  local failed, res = self:call("purge", nh.purge, m.map, k, shrink)
  check.truthy(res[1], "purge raised " .. tostring(res[2]))
  local present = model.entries[k] ~= nil
  check.eq(res[2], present, "purge result")
  if present then
    model.entries[k] = nil
    model.n = model.n - 1
  end
  local now = nh.attrib(m.map).capacity
  local target = sizefor(model.n)
  if present and shrink and model.n < limitfor(target) then
    -- The new flag array comes first: when it cannot be had nothing
    -- changes; a failed trim of the arrays still leaves the smaller table.
    if failed and self.hit.nth == 1 then
      check.eq(now, cap, "a shrink without memory keeps the capacity")
    else
      check.eq(now, target, "capacity after a shrinking purge")
    end
  else
    check.eq(failed, false, "a purge that rebuilds nothing allocates")
    check.eq(now, cap, "capacity after a purge that does not shrink")
  end
  m.capacity = now
  self:verify(m)
end


function Run:resize(m, n)
  local cap = m.capacity
  local failed, res = self:call("resize", nh.resize, m.map, n)
  check.truthy(res[1], "resize raised " .. tostring(res[2]))
  local d = 1
  while d < n do d = d * 2 end
  local want = cap
  if d > cap and not failed then want = sizefor(d) end
  check.eq(res[3], want, "capacity after resize")
  check.eq(res[2], want ~= cap, "resize result")
  m.capacity = want
  self:verify(m)
end


function Run:cleanse(m)
  local failed, res = self:call("cleanse", nh.cleanse, m.map)
  check.truthy(res[1], "cleanse raised " .. tostring(res[2]))
  check.eq(failed, false, "cleanse allocates nothing")
  m.model.entries, m.model.n = {}, 0
  self:verify(m)
end


------------------------------------------------------------------------
-- The workload: every operation that allocates, in every state that
-- makes it allocate differently
------------------------------------------------------------------------

local function workload(w)
  local a = w:new()
  -- Small integers share home bucket 0: long probe chains, then growth
  -- 8 -> 16 -> 32 -> 64.
  for i = 1, 30 do w:include(a, i, "v" .. i, i % 2 == 0 and "[]" or nil) end
  for i = 1, 30, 7 do w:include(a, i, "r" .. i, i % 2 == 0 and "[]" or nil) end  -- replacements
  w:include(a, 0, "zero")
  w:include(a, NEGZERO, "negative zero")  -- the same key; it keeps its sign
  for i = 1, 12 do w:include(a, -i / 8, "f" .. i, "[]") end
  -- Deleted buckets, then inserts that reuse them.
  for i = 2, 30, 2 do w:purge(a, i) end
  for i = 2, 12, 2 do w:include(a, i, "again" .. i) end
  -- Shrinking purges through several sizes, and purges that cannot shrink.
  w:purge(a, 12345, true)
  for i = 1, 30 do w:purge(a, i, true) end
  for i = 1, 12 do w:purge(a, -i / 8, i % 3 == 0) end
  -- Enlarging: no change, then growth.
  w:resize(a, 0)
  w:resize(a, 5)
  w:resize(a, 100)
  w:resize(a, 1000)
  for i = 1, 20 do w:include(a, i * 1.5, "g" .. i) end
  w:cleanse(a)
  w:cleanse(a)
  for i = 1, 8 do w:include(a, 1e300 / i, "h" .. i) end

  -- A same-size rebuild: most buckets deleted when occupancy hits the bound.
  local b = w:new(16)
  for i = 1, 12 do w:include(b, i + 0.25, "b" .. i) end
  for i = 1, 10 do w:purge(b, i + 0.25) end
  for i = 20, 23 do w:include(b, i, "c" .. i) end

  -- Sizes at the edges, values cut at a zero byte, a map sized by its
  -- first include.
  local c = w:new(1)
  w:include(c, NEGZERO, "first zero")
  w:include(c, 0, "second zero")
  w:include(c, 2 ^ 53, "a\0b")
  w:include(c, -2 ^ -1074, "")
  w:include(c, 1 / 0, "inf")
  w:include(c, -1 / 0, "-inf")
  local d = w:new(100)
  w:resize(d, 9)
  for i = 1, 5 do w:include(d, i, ("x"):rep(i * 100)) end
  w:purge(d, 3, true)
  -- A map left unsized by its failed first sizing: read, purged, emptied,
  -- then sized by resize.
  local e = w:new(2)
  w:purge(e, 1)
  w:cleanse(e)
  w:resize(e, 0)
  w:include(e, 1, "one")
  w:verifyall()
end


------------------------------------------------------------------------

local function settle()
  collectgarbage("collect")
  collectgarbage("collect")
end


local function exhaust()
  settle()
  local base = heap.live()
  local sites = {}
  local n = 0
  repeat
    n = n + 1
    local w = newrun(n)
    heap.failat(n)
    local ok, err = pcall(workload, w)
    local made = heap.allocations()
    heap.failat(0)
    if not ok then error(string.format("run %d: %s", n, tostring(err)), 0) end
    local reached = made >= n
    if reached then
      check.truthy(w.hit ~= nil, string.format("run %d: the failing allocation fell outside every operation", n))
      local key = w.hit.what .. "#" .. w.hit.nth
      sites[key] = (sites[key] or 0) + 1
    else
      check.truthy(heap.live() >= base + w:blocks(), "the maps' blocks are counted live")
    end
    w = nil
    settle()
    check.eq(heap.live(), base, string.format("run %d: live blocks after the maps are collected", n))
  until not reached or n > 100000
  check.truthy(n > 100, "the workload allocates")
  local kinds = {}
  for key, times in pairs(sites) do kinds[#kinds + 1] = key .. " x" .. times end
  table.sort(kinds)
  io.write(string.format("     %d allocations failed in turn; by operation and position: %s\n",
                         n - 1, table.concat(kinds, ", ")))
end


check.case("every allocation of the workload fails in turn", exhaust)

check.case("the same with every walk handed to the lookup aids", function()
  heap.tune(1, 8, 1)
  exhaust()
end)

check.done()
