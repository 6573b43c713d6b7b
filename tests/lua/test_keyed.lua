-- Reading, storing and deleting entries by key; enlarging maps.
local check = require "check"
local nh = require "numhash"

local function stats(m) return nh.attrib(m) end

check.case("getitem with the map alone returns its environment table", function()
  local m = nh.new()
  local env = nh.getitem(m)
  env.note = "kept"
  check.eq(nh.getitem(m).note, "kept")
  check.eq(getmetatable(m).__index(m), env, "__index takes the same path")
end)

check.case("indexing reads entries and needs an actual number", function()
  local m = nh.new()
  check.eq(m[1], nil)
  check.eq(m[-7.25], nil)
  m[1] = "one"
  check.eq(m[1], "one")
  check.eq(nh.getitem(m, 1), "one")
  check.eq(nh.getitem(m, 1, "ignored", {}), "one", "extra arguments are ignored")
  local bad = "Error in `numhash.getitem`: invalid second argument given."
  check.raises(bad, function() return m["1"] end)
  check.raises(bad, function() return m.include end)
  check.raises(bad, nh.getitem, m, nil)
  check.raises(bad, nh.getitem, m, true)
  check.raises(bad, nh.getitem, m, {})
  check.raises("bad argument #1 to '" .. check.engine.pcallname("numhash", "getitem") ..
               "' (numhash expected, got table)", nh.getitem, {}, 1)
end)

check.case("include reports new and replaced keys; the last value wins", function()
  local m = nh.new()
  check.eq(nh.include(m, 2.5, "first"), true)
  check.eq(nh.include(m, 2.5, "second"), false)
  check.eq(#m, 1)
  check.eq(m[2.5], "second")
  check.eq(select("#", nh.include(m, 3, "x")), 1, "one result")
end)

check.case("index assignment stores exactly as include does", function()
  local a, b = nh.new(), nh.new()
  for i = 1, 40 do
    a[i * 1.5] = "v" .. i
    nh.include(b, i * 1.5, "v" .. i)
  end
  a[3] = "again"
  nh.include(b, 3, "again")
  check.eq(#a, #b)
  local ia, ib = nh.iterate(a), nh.iterate(b)
  repeat
    local ka, va = ia()
    local kb, vb = ib()
    check.eq(ka, kb, "same placement")
    check.eq(va, vb)
  until ka == nil
end)

check.case("include checks its arguments strictly, map first", function()
  local m = nh.new()
  check.raises("bad argument #2 to 'include' (number expected, got string)",
               function() return nh.include(m, "1", "x") end)
  check.raises("bad argument #3 to 'include' (string expected, got number)",
               function() return nh.include(m, 1, 2) end)
  check.raises("bad argument #3 to 'include' (string expected, got no value)",
               function() return nh.include(m, 1) end)
  check.raises("bad argument #1 to 'include' (numhash expected, got string)",
               function() return nh.include("m", "k", 2) end)
  check.eq(#m, 0, "nothing stored")
end)

check.case("+0 and -0 are one key that keeps the sign it was stored with", function()
  -- computed at run time: the compiler would fold a literal -0 into 0
  local pzero, nzero = 1 / math.huge, -1 / math.huge
  check.eq(1 / nzero, -math.huge, "nzero is -0")
  local m = nh.new()
  m[pzero] = "zero"
  check.eq(m[nzero], "zero")
  check.eq(nh.include(m, nzero, "negative"), false)
  check.eq(#m, 1)
  local k, v = nh.iterate(m)()
  check.eq(1 / k, math.huge, "stored key is still +0")
  check.eq(v, "negative")

  local n = nh.new()
  n[nzero] = "first"
  n[pzero] = "second"
  check.eq(1 / nh.iterate(n)(), -math.huge, "stored key is still -0")
  check.eq(n[pzero], "second")
end)

check.case("NaN keys add an entry each time and can never be read or purged", function()
  local m = nh.new()
  local nan = 0 / 0
  check.eq(nh.include(m, nan, "a"), true)
  check.eq(nh.include(m, nan, "b"), true)
  check.eq(#m, 2)
  check.eq(m[nan], nil)
  check.eq(nh.purge(m, nan), false)
  check.eq(#m, 2)
  local seen = 0
  for k, v in nh.iterate(m) do
    check.truthy(k ~= k, "key is NaN")
    seen = seen + 1
  end
  check.eq(seen, 2)
end)

check.case("values are cut at their first zero byte", function()
  local m = nh.new()
  m[1] = "abc\0def"
  check.eq(m[1], "abc")
  m[2] = "\0tail"
  check.eq(m[2], "")
  m[3] = ""
  check.eq(m[3], "")
end)

check.case("purge removes entries; absent keys leave the map alone", function()
  local m = nh.new(16)
  for i = 1, 10 do m[i] = tostring(i) end
  check.eq(nh.purge(m, 4), true)
  check.eq(m[4], nil)
  check.eq(#m, 9)
  check.eq(nh.purge(m, 4), false)
  check.eq(nh.purge(m, 4, true), false)
  check.eq(stats(m).capacity, 16, "an absent key does not shrink")
  check.eq(nh.purge(m, 99, true), false)
  check.eq(stats(m).capacity, 16)
  check.eq(nh.purge(m, 5, false), true)
  check.eq(stats(m).capacity, 16)
  check.raises("bad argument #3 to 'purge' (boolean expected, got number)",
               function() return nh.purge(m, 6, 1) end)
  check.eq(m[6], "6", "a bad flag removes nothing")
  check.raises("bad argument #2 to 'purge' (number expected, got nil)",
               function() return nh.purge(m, nil) end)
end)

check.case("purge with shrink rebuilds only when the smaller size can hold the count", function()
  local m = nh.new(16)
  for i = 1, 8 do m[i] = "v" end
  check.eq(stats(m).capacity, 16)
  nh.purge(m, 8, true)                    -- 7 left: target 8 holds 6 at most
  check.eq(stats(m).capacity, 16)
  nh.purge(m, 7, true)                    -- 6 left: still too many for 8
  check.eq(stats(m).capacity, 16)
  nh.purge(m, 6, true)                    -- 5 left: rebuilt at 8
  check.eq(stats(m).capacity, 8)
  check.eq(#m, 5)
  for i = 1, 5 do check.eq(m[i], "v") end
  for i = 1, 5 do nh.purge(m, i, true) end
  check.eq(stats(m).capacity, 4, "never below 4")
  check.eq(#m, 0)
end)

check.case("purge with shrink at the same size clears deleted buckets", function()
  local m = nh.new(16)
  for i = 1, 12 do m[i * 0.5] = "v" end  -- 12 left means target 16, bound 12: unchanged
  check.eq(stats(m).capacity, 16)
  nh.purge(m, 0.5)
  nh.purge(m, 1)
  nh.purge(m, 1.5)
  check.eq(stats(m).void, 3, "three deleted buckets")
  nh.purge(m, 2, true)                    -- 8 left: target 8 cannot hold it...
  check.eq(stats(m).capacity, 16)
  check.eq(stats(m).void, 4, "...so nothing is rebuilt")
  nh.purge(m, 2.5, true)                  -- 7 left: same story
  nh.purge(m, 3, true)                    -- 6 left
  check.eq(stats(m).capacity, 16)
  nh.purge(m, 3.5, true)                  -- 5 left: rebuilt at 8, no deleted buckets
  check.eq(stats(m).capacity, 8)
  check.eq(stats(m).void, 0)
end)

check.case("the growth bound: exactly half live doubles, cleanse resets it", function()
  local m = nh.new(8)                      -- bound 6
  for i = 1, 6 do m[i * 0.5] = "v" end
  nh.purge(m, 0.5)
  nh.purge(m, 1)                           -- 4 live of 8, 6 claimed
  m[100.5] = "v"
  check.eq(stats(m).capacity, 16, "half live is not fewer than half: doubled")
  check.eq(#m, 5)

  m = nh.new(8)
  m[1.5], m[2.5] = "a", "b"
  nh.cleanse(m)
  for i = 1, 5 do m[i * 0.25] = "v" end    -- 5 claimed since the cleanse
  check.eq(stats(m).capacity, 8, "cleanse frees the claimed buckets")
  check.eq(stats(m).empty, 3)
end)

check.case("resize grows to a power of two and never shrinks", function()
  local m = nh.new()
  local function r(n) return { nh.resize(m, n) } end
  local function same(a, b) check.eq(a[1], b[1]); check.eq(a[2], b[2]) end
  same(r(0), { false, 8 })
  same(r(5), { false, 8 })
  same(r(8), { false, 8 })
  same(r(9), { true, 16 })
  same(r(100), { true, 128 })
  same(r(3), { false, 128 })
  check.raises("bad argument #2 to 'resize' (non-negative integer expected)",
               function() return nh.resize(m, -1) end)
  check.raises("bad argument #2 to 'resize' (non-negative integer expected)",
               function() return nh.resize(m, 1.5) end)
  check.raises("bad argument #2 to 'resize' (number expected, got no value)",
               function() return nh.resize(m) end)
end)

check.case("resize keeps every entry", function()
  local m = nh.new(4)
  for i = 1, 3 do m[i * 1000] = "k" .. i end
  check.eq(select(2, nh.resize(m, 1000)), 1024)
  for i = 1, 3 do check.eq(m[i * 1000], "k" .. i) end
  check.eq(#m, 3)
end)

check.case("many keys of every kind survive growth and rebuilds", function()
  local m, model = nh.new(1), {}
  local keys = {}
  for i = 1, 3000 do
    local k = (i % 3 == 0) and i or (i % 3 == 1) and -i / 7 or i * 1e9
    keys[#keys + 1] = k
    m[k] = "v" .. i
    model[k] = "v" .. i
  end
  for i = 1, #keys, 3 do
    nh.purge(m, keys[i])
    model[keys[i]] = nil
  end
  local n = 0
  for k, v in pairs(model) do
    check.eq(m[k], v)
    n = n + 1
  end
  check.eq(#m, n)
end)

check.done()
