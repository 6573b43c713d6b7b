-- read_steps.lua: what a map read costs, step by step, against a table read.
--
--   lua5.1 read_steps.lua
--
-- needs numhash, memprobe and readfloor on LUA_CPATH.  Prints "step", n,
-- label, ns per operation (best of 5 passes), tab-separated, for random keys.
-- The floor is a native object that does only what any native map read
-- must (readfloor.c), holding the same strings for the same keys.
local numhash = require "numhash"
local readfloor = require "readfloor"
local now = require("memprobe").now
local shuffle = require "bench.shuffle"

local function measure(n)
  math.randomseed(7 + n)
  local keys, look, miss, vals = {}, {}, {}, {}
  for i = 1, n do
    keys[i] = (i + math.random()) * 1024
    miss[i] = (n + i + math.random()) * 1024  -- above every key
    vals[i] = string.format("value%07d", i)
  end
  for i = 1, n do look[i] = keys[i] end
  shuffle(look)
  local m, t = numhash.new(), {}
  local floor = readfloor.new(n, 1 / 1024)  -- key (i + r) * 1024 reads slot i
  for i = 1, n do
    m[keys[i]] = vals[i]
    t[keys[i]] = vals[i]
    readfloor.set(floor, i, vals[i])
  end
  local size, getitem = getmetatable(m).__size, numhash.getitem

  -- Steps given together take turns, pass by pass, so that a change of
  -- load on a shared machine meets them alike.
  local function step(...)
    local each = {...}
    local best = {}
    for _ = 1, 5 do
      for i = 2, #each, 2 do
        collectgarbage("collect")
        local t0 = now()
        each[i]()
        best[i] = math.min(best[i] or math.huge, now() - t0)
      end
    end
    for i = 2, #each, 2 do
      io.write(string.format("step\t%d\t%s\t%.6g\n", n, each[i - 1], best[i] / n * 1e9))
    end
    io.stdout:flush()
  end

  step("loop reading the keys alone", function() local k for i = 1, n do k = look[i] end end)
  step("table read `t[k]`", function() local v for i = 1, n do v = t[look[i]] end end)
  step("a module call that reads no entry (`__size`)", function()
    local v for i = 1, n do v = size(m, look[i]) end end)
  step("`getitem` of an absent key (call, checks, find)", function()
    local v for i = 1, n do v = getitem(m, miss[i]) end end)
  step("`getitem` of a present key (the same plus the copy out)", function()
    local v for i = 1, n do v = getitem(m, look[i]) end end)
  step("the floor: `f[k]` through `__index` (check, one slot, copy out)", function()
    local v for i = 1, n do v = floor[look[i]] end end,
    "`m[k]` through `__index`", function() local v for i = 1, n do v = m[look[i]] end end)
end

measure(100000)
measure(1000000)
