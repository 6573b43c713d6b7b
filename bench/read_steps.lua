-- read_steps.lua: what a map read costs, step by step, against a table read.
--
--   lua5.1 read_steps.lua
--
-- needs numhash and memprobe on LUA_CPATH.  Prints "step", n, label, ns per
-- operation (best of 5 passes), tab-separated, for random keys.
local numhash = require "numhash"
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
  for i = 1, n do
    m[keys[i]] = vals[i]
    t[keys[i]] = vals[i]
  end
  local size, getitem = getmetatable(m).__size, numhash.getitem

  local function step(label, f)
    local best = math.huge
    for _ = 1, 5 do
      collectgarbage("collect")
      local t0 = now()
      f()
      best = math.min(best, now() - t0)
    end
    io.write(string.format("step\t%d\t%s\t%.6g\n", n, label, best / n * 1e9))
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
  step("`m[k]` through `__index`", function() local v for i = 1, n do v = m[look[i]] end end)
end

measure(100000)
measure(1000000)
