-- engines.lua: a numhash map against the engine's own table, on any engine
-- from lua5.1 to lua5.4 and LuaJIT.
--
--   lua5.x engines.lua [reps] [largest n]      -- run from the project root
--
-- needs only numhash on LUA_CPATH, so times come from os.clock (CPU time).
-- Prints one tab-separated line per figure: engine, workload, keys, n,
-- structure, median, min, max; times are ns per operation.
local numhash = require "numhash"
local shuffle = require "bench.shuffle"

local reps = tonumber(arg[1]) or 5
local largest = tonumber(arg[2]) or 1000000
local engine = jit and jit.version or _VERSION
local clock = os.clock

local function fullgc()
  collectgarbage("collect")
  collectgarbage("collect")
end

local function emit(workload, keys, n, structure, samples)
  table.sort(samples)
  local med = samples[math.floor((#samples + 1) / 2)]
  io.write(string.format("%s\t%s\t%s\t%d\t%s\t%.10g\t%.10g\t%.10g\n", engine, workload, keys, n,
    structure, med * 1e9, samples[1] * 1e9, samples[#samples] * 1e9))
  io.stdout:flush()
end

-- Keys in insertion order and the same keys shuffled for lookups, as
-- script_bench.lua makes them (each engine has its own generator, though).
local function makekeys(kind, n)
  math.randomseed(12345 + n)
  local keys, lookups = {}, {}
  for i = 1, n do
    keys[i] = kind == "random" and (i + math.random()) * 1024 or i
  end
  if kind == "random" then shuffle(keys) end
  for i = 1, n do lookups[i] = keys[i] end
  shuffle(lookups)
  return keys, lookups
end

-- One loop per structure: LuaJIT gives up compiling a loop that calls into
-- the module, and a loop shared with the table would then stay interpreted.
local function tablewrite(s, keys, vals, n)
  for i = 1, n do s[keys[i]] = vals[i] end
end

local function mapwrite(s, keys, vals, n)
  for i = 1, n do s[keys[i]] = vals[i] end
end

local function tableread(s, lookups, n)
  local v
  for i = 1, n do v = s[lookups[i]] end
  return v
end

local function mapread(s, lookups, n)
  local v
  for i = 1, n do v = s[lookups[i]] end
  return v
end

local kinds = {
  table = {new = function() return {} end, write = tablewrite, read = tableread},
  map = {new = function() return numhash.new() end, write = mapwrite, read = mapread},
}

local function timed(fn, ...)
  fullgc()
  local t0 = clock()
  fn(...)
  return clock() - t0
end

local function run(kind, n)
  local keys, lookups = makekeys(kind, n)
  local vals = {}
  for i = 1, n do vals[i] = string.format("value%07d", i) end
  local t = {table = {write = {}, read = {}}, map = {write = {}, read = {}}}
  -- Table and map take turns, so a drift in the machine touches both.
  for r = 1, reps do
    for _, name in ipairs({"table", "map"}) do
      local k = kinds[name]
      local s = k.new()
      t[name].write[r] = timed(k.write, s, keys, vals, n) / n
      t[name].read[r] = timed(k.read, s, lookups, n) / n
    end
  end
  for _, w in ipairs({"write", "read"}) do
    for _, name in ipairs({"table", "map"}) do emit(w, kind, n, name, t[name][w]) end
  end
end

for _, n in ipairs({100000, 1000000}) do
  if n <= largest then
    for _, kind in ipairs({"sequential", "random"}) do run(kind, n) end
  end
end
