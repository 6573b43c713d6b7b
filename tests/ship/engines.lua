-- engines.lua: one script that every engine's interpreter runs with the
-- module from the installed package; the outputs must be the same.
local numhash = require "numhash"
local out = {}
local function put(...)
  local t = {}
  for i = 1, select("#", ...) do t[i] = tostring((select(i, ...))) end
  out[#out + 1] = table.concat(t, " ")
end

local m = numhash.new(4)
for i = 1, 40 do m[i * 0.75 - 10] = ("v%d"):format(i) end
put(m, #m, m[-9.25], m[20], numhash.has(m, "v7"), numhash.include(m, 2, "two"))
put(numhash.purge(m, 2), numhash.purge(m, 2), m[2])
local stats = numhash.attrib(m)
put(stats.count, stats.capacity, stats.empty, stats.void, stats.loadfactor, stats.utilization)
local walked = {}
for k, v in numhash.iterate(m) do walked[#walked + 1] = k .. "=" .. v end
put(table.concat(walked, ","))
numhash.resize(m, 200)
put(numhash.attrib(m).capacity, numhash.iterate(m)())
local t = numhash.totable(m)
put(t[-9.25], t[20], t[5])
numhash.cleanse(m)
put(m, #m, numhash.getitem(m, 20))
print(table.concat(out, "\n"))
