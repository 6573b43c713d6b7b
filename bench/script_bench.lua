-- script_bench.lua: a numhash map against a plain table, in the stock lua5.1.
--
--   lua5.1 script_bench.lua [reps]
--
-- needs numhash and memprobe on LUA_CPATH.  Prints one tab-separated line
-- per figure: "script", workload, keys, n, structure, median, min, max.
-- Times are ns per operation; "memory" is bytes per entry: the growth of
-- the C heap in use (memprobe.heap, which counts the runtime's heap and the
-- module's alike) from building the structure, after full collections;
-- "gc" is the ms of one full collection with only that structure alive.
local numhash = require "numhash"
local probe = require "memprobe"

local reps = tonumber(arg[1]) or 3
local now, heap = probe.now, probe.heap
local include, purge, iterate = numhash.include, numhash.purge, numhash.iterate

local function emit(workload, keys, n, structure, samples, scale)
  table.sort(samples)
  local med = samples[math.floor((#samples + 1) / 2)]
  io.write(string.format("script\t%s\t%s\t%d\t%s\t%.10g\t%.10g\t%.10g\n", workload, keys,
    n, structure, med * scale, samples[1] * scale, samples[#samples] * scale))
  io.stdout:flush()
end

local function fullgc()
  collectgarbage("collect")
  collectgarbage("collect")
end

local shuffle = require "bench.shuffle"

local function value(i)
  return string.format("value%07d", i)
end

-- Keys in insertion order and the same keys shuffled for lookups.
local function makekeys(kind, n)
  math.randomseed(12345 + n)
  local keys, lookups = {}, {}
  for i = 1, n do
    keys[i] = kind == "random" and (i + math.random()) * 1024 or i
  end
  if kind == "random" then shuffle(keys) end  -- insertion order random too
  for i = 1, n do lookups[i] = keys[i] end
  shuffle(lookups)
  return keys, lookups
end

-- Each workload gets a fresh structure built from the same keys and values.
local newmap = function() return numhash.new() end
local newtable = function() return {} end

local function timed(fn, ...)
  fullgc()
  local t0 = now()
  fn(...)
  return now() - t0
end

local function gctimes()
  fullgc()
  local samples = {}
  for r = 1, 2 * reps + 1 do
    local t0 = now()
    collectgarbage("collect")
    samples[r] = now() - t0
  end
  return samples
end

local function store(s, keys, vals, n)
  for i = 1, n do s[keys[i]] = vals[i] end
end

local function read(s, lookups, n)
  local v
  for i = 1, n do v = s[lookups[i]] end
  return v
end

local function mapdelete(s, lookups, n)
  for i = 1, n do purge(s, lookups[i]) end
end

local function tabledelete(s, lookups, n)
  for i = 1, n do s[lookups[i]] = nil end
end

local function mapwalk(s)
  local c = 0
  for k, v in iterate(s) do c = c + 1 end
  return c
end

local function tablewalk(s)
  local c = 0
  for k, v in pairs(s) do c = c + 1 end
  return c
end

local kinds = {
  map = {new = newmap, delete = mapdelete, walk = mapwalk},
  table = {new = newtable, delete = tabledelete, walk = tablewalk},
}

-- Memory, and (with gc) the time of one full collection with nothing else
-- alive but the structure.
local function measure(kind, n, gc)
  for _, name in ipairs({"table", "map"}) do
    local k = kinds[name]
    local ks = makekeys(kind, n)
    fullgc()
    local h0, c0 = heap(), collectgarbage("count")
    local s = k.new()
    for i = 1, n do s[ks[i]] = value(i) end
    fullgc()
    local h1, c1 = heap(), collectgarbage("count")
    emit("memory", kind, n, name, {(h1 - h0) / n}, 1)
    emit("runtime-heap", kind, n, name, {(c1 - c0) * 1024 / n}, 1)
    if name == "map" then emit("capacity", kind, n, name, {numhash.attrib(s).capacity}, 1) end
    ks = nil
    if gc then emit("gc", kind, n, name, gctimes(), 1e3) end
    s = nil
  end
  if gc then
    fullgc()
    emit("gc", kind, n, "nothing", gctimes(), 1e3)
  end
end

local function run(kind, n)
  local keys, lookups = makekeys(kind, n)
  local vals = {}
  for i = 1, n do vals[i] = value(i) end
  for _, name in ipairs({"table", "map"}) do
    local k = kinds[name]
    local t = {store = {}, read = {}, delete = {}, iterate = {}}
    for _ = 1, reps do
      local s = k.new()
      t.store[#t.store + 1] = timed(store, s, keys, vals, n) / n
      t.read[#t.read + 1] = timed(read, s, lookups, n) / n
      t.iterate[#t.iterate + 1] = timed(k.walk, s) / n
      t.delete[#t.delete + 1] = timed(k.delete, s, lookups, n) / n
      s = nil
    end
    for _, w in ipairs({"store", "read", "delete", "iterate"}) do
      emit(w, kind, n, name, t[w], 1e9)
    end
  end
  keys, vals, lookups = nil, nil, nil
  measure(kind, n, true)
end

for _, n in ipairs({100000, 1000000}) do
  for _, kind in ipairs({"random", "sequential"}) do
    run(kind, n)
  end
end

-- Memory between those sizes: where each structure stands in its own
-- growth steps decides much of its memory per entry.
for _, n in ipairs({800000, 1600000}) do
  measure("random", n, false)
end
