-- churn.lua: a loop that makes and drops large maps, and what each remedy
-- does to the memory it holds.
--
--   lua5.1 churn.lua [maps] [buckets] [entries] [remedy]
--
-- (default 3000 2^20 100).  Each remedy runs in a process of its own, so
-- that none inherits the memory another left resident; a remedy's number
-- runs that one alone, in this process.
-- needs numhash and memprobe on LUA_CPATH.  The collector sees only each
-- map's small userdata, not its arrays, so dropped maps pile up before a
-- collection frees them.  Prints tab-separated
--   "churn", remedy, maps, buckets, entries, peak heap MB, peak resident MB,
--   resident MB after a full collection at the end, seconds
-- The heap is what malloc has handed out (memprobe.heap); resident memory
-- is the process's (/proc/self/statm).
local numhash = require "numhash"
local probe = require "memprobe"

local maps = tonumber(arg[1]) or 3000
local buckets = tonumber(arg[2]) or 2 ^ 20
local entries = tonumber(arg[3]) or 100
local only = tonumber(arg[4])
local MB = 2 ^ 20

local function resident()
  local f = assert(io.open("/proc/self/statm"))
  local pages = f:read("*n") and f:read("*n")
  f:close()
  return pages * 4096
end

-- Each remedy: its name, what it does to a map before the map is dropped,
-- what it does after.
local function nothing() end
local remedies = {
  {"none", nothing, nothing},
  {"numhash.cleanse(m) before dropping it", numhash.cleanse, nothing},
  {"getmetatable(m).__gc(m) before dropping it", function(m) getmetatable(m).__gc(m) end, nothing},
  {"collectgarbage(\"step\") after each drop", nothing, function() collectgarbage("step") end},
  {"collectgarbage() after each drop", nothing, function() collectgarbage() end},
}

if not only then
  for i = 1, #remedies do
    local status = os.execute(string.format("%s %s %d %d %d %d", arg[-1], arg[0], maps, buckets,
      entries, i))
    assert(status == 0, "a remedy's run failed")
  end
  return
end

do
  local name, before, after = remedies[only][1], remedies[only][2], remedies[only][3]
  collectgarbage("collect")
  local peakheap, peakres = 0, 0
  local t0 = probe.now()
  for i = 1, maps do
    local m = numhash.new(buckets)
    for j = 1, entries do m[(j + i / maps) * 1024] = "value0000001" end
    before(m)
    m = nil
    after()
    local h, s = probe.heap(), resident()
    if h > peakheap then peakheap = h end
    if s > peakres then peakres = s end
  end
  local seconds = probe.now() - t0
  collectgarbage("collect")
  io.write(string.format("churn\t%s\t%d\t%d\t%d\t%.1f\t%.1f\t%.1f\t%.3f\n", name, maps, buckets,
    entries, peakheap / MB, peakres / MB, resident() / MB, seconds))
  io.stdout:flush()
end
