-- Clustered keys through the lookup aids: what scripts see is what the
-- plain placement rules give, in iteration order and in attrib's counts.
local check = require "check"
local nh = require "numhash"
local control = require "numhash.heapfail"

-- Integers and halves share few home buckets; purges leave deleted
-- buckets to reuse, some shrink the map, then it is enlarged and refilled.
local function workload()
  local m = nh.new()
  for i = 1, 10000 do m[i] = "v" .. i end
  for i = 1, 10000, 3 do nh.purge(m, i) end
  for i = 1, 3000 do m[i + 0.5] = "h" .. i end
  for i = 1, 10000, 40 do nh.purge(m, i + 1, true) end
  nh.resize(m, 100000)
  for i = 10001, 15000 do m[i] = "w" .. i end
  local seen = {}
  for k, v in nh.iterate(m) do seen[#seen + 1] = k .. "=" .. v end
  local a = nh.attrib(m)
  return table.concat(seen, " "), a.count, a.capacity, a.empty, a.void
end

check.case("iteration order and counts match the plain rules under every tuning", function()
  control.tune()
  local plain = {workload()}
  check.truthy(#plain[1] > 50000, "the workload fills the map")
  for _, t in ipairs {{1, 0}, {0, 0}, {2, 1000}, {32, 8}} do
    control.tune(t[1], t[2])
    local got = {workload()}
    local how = "farsteps " .. t[1] .. ", allshare " .. t[2]
    check.truthy(got[1] == plain[1], "iteration order with " .. how)
    for i, what in ipairs {"", "count", "capacity", "empty", "void"} do
      if i > 1 then check.eq(got[i], plain[i], what .. " with " .. how) end
    end
  end
end)

check.done()
