-- sequential.lua: the integers 1..n as keys of a map, as n grows, against
-- random keys in a map and the same integers in a table.
--
--   lua5.1 sequential.lua [largest n]      (default 10^7)
--
-- needs numhash, memprobe and homes on LUA_CPATH.  Prints tab-separated
--   "seq", keys, n, structure, operation, ns per operation, seconds in all
--   "homes", n, buckets, home buckets used, keys on the busiest one,
--            buckets a find visits on average and at most (every 97th key)
-- One pass each: at 10^7 a pass takes minutes.
local numhash = require "numhash"
local now = require("memprobe").now
local homes = require "homes"
local shuffle = require "bench.shuffle"

local largest = tonumber(arg[1]) or 1e7
local VALUE = "value0000001"

local function fullgc()
  collectgarbage("collect")
  collectgarbage("collect")
end

local function emit(keys, n, structure, op, seconds)
  io.write(string.format("seq\t%s\t%d\t%s\t%s\t%.6g\t%.6g\n", keys, n, structure, op,
    seconds / n * 1e9, seconds))
  io.stdout:flush()
end

local function pass(keys, kind, n, structure, s)
  local lookups = {}
  for i = 1, n do lookups[i] = keys[i] end
  shuffle(lookups)
  fullgc()
  local t0 = now()
  for i = 1, n do s[keys[i]] = VALUE end
  emit(kind, n, structure, "insert", now() - t0)
  fullgc()
  local v
  t0 = now()
  for i = 1, n do v = s[lookups[i]] end
  emit(kind, n, structure, "read", now() - t0)
  assert(v == VALUE)
end

for _, n in ipairs({1e6, 2e6, 4e6, 6e6, 1e7}) do
  if n > largest then break end
  math.randomseed(99 + n)
  local keys = {}
  for i = 1, n do keys[i] = i end
  pass(keys, "sequential", n, "table", {})
  local m = numhash.new()
  pass(keys, "sequential", n, "map", m)
  local capacity = numhash.attrib(m).capacity
  local used, most = homes.count(n, capacity)
  io.write(string.format("homes\t%d\t%d\t%d\t%d\t%.4g\t%d\n", n, capacity, used, most,
    homes.probes(m, n, 97)))
  getmetatable(m).__gc(m)  -- freed now, not at some later collection
  m = nil
  for i = 1, n do keys[i] = (i + math.random()) * 1024 end
  m = numhash.new()
  pass(keys, "random", n, "map", m)
  getmetatable(m).__gc(m)
  m, keys = nil, nil
end
