-- tour.lua: a short walk through the numhash map, printing what it does.
local numhash = require "numhash"

local m = numhash.new()
print("new map:", m)

m[1] = "one"
m[2.5] = "two and a half"
m[-7] = "minus seven"
print("after three stores:", m, "size " .. #m)
print("m[2.5] =", m[2.5], " m[3] =", m[3])

print("include 1 again (replaces):", numhash.include(m, 1, "uno"), m[1])
print("has 'uno':", numhash.has(m, "uno"), " has 'one':", numhash.has(m, "one"))

print("entries in bucket order:")
for k, v in numhash.iterate(m) do print("", k, v) end

print("purge -7:", numhash.purge(m, -7), " purge -7 again:", numhash.purge(m, -7))
print("resize to 100:", numhash.resize(m, 100))

local a = numhash.attrib(m)
print(string.format("attrib: count %d, capacity %d, empty %d, void %d, load %.4f",
                    a.count, a.capacity, a.empty, a.void, a.loadfactor))
numhash.cleanse(m)
print("after cleanse:", m)
