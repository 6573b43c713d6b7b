-- What a map gives each engine in its own terms: numbers that print as the
-- engine prints its own, pairs() and <close> where the engine has them.
local check = require "check"
local nh = require "numhash"

local integers = math.type ~= nil  -- 5.3 on

check.case("keys and counts come back as the engine writes them", function()
  local m = nh.new()
  local keys = { 3, -7, 0.5, 1e300, 1 / 0, -1 / 0, -0.0 }
  for i, k in ipairs(keys) do m[k] = tostring(i) end
  local seen = 0
  for k, v in nh.iterate(m) do
    local written = keys[tonumber(v)]
    check.eq(tostring(k), tostring(written), "key " .. v)
    if integers then check.eq(math.type(k), math.type(written), "kind of key " .. v) end
    seen = seen + 1
  end
  check.eq(seen, #keys)
  local t = nh.totable(m)
  check.eq(t[3], "1", "a whole key indexes the table as the engine's own")
  local stats = nh.attrib(m)
  check.eq(tostring(stats.count) .. " " .. tostring(stats.capacity) .. " " .. tostring(#m), "7 16 7")
  check.eq(tostring(nh.attrib(nh.new()).loadfactor), tostring(0))
end)

check.case("integer keys beyond 2^53 are rounded to doubles, as on 5.1", function()
  if not integers then return end
  local m = nh.new()
  local big = math.tointeger(2 ^ 53)
  m[big] = "even"
  m[big + 1] = "odd"  -- the same double
  check.eq(#m, 1)
  check.eq(m[big], "odd")
  check.eq(nh.iterate(m)(), big)
end)

check.case("pairs walks a map in bucket order where the engine asks __pairs", function()
  local m = nh.new()
  for i = 1, 20 do m[i * 1.5] = tostring(i) end
  if not check.engine.pairs then
    check.raises("~table expected", pairs, m)
    return
  end
  local walked, order = {}, {}
  for k, v in pairs(m) do walked[#walked + 1] = k .. "=" .. v end
  for k, v in nh.iterate(m) do order[#order + 1] = k .. "=" .. v end
  check.eq(table.concat(walked, " "), table.concat(order, " "))
end)

check.case("a map closed at the end of its scope is released", function()
  if not check.engine.close then return end
  local closed = load("local nh = ... local m <close> = nh.new() m[1] = 'x' return m")(nh)
  local released = nh.new()
  getmetatable(released).__gc(released)
  local _, want = pcall(nh.getitem, released, 1)
  local _, got = pcall(nh.getitem, closed, 1)
  check.eq(got, want)
  check.eq(tostring(pcall(nh.include, closed, 1, "y")), "false")
end)

check.done()
