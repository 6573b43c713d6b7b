#!/usr/bin/env ovrelrun
-- wordfreq.lua: counts the words of the files named on the command line
-- ("-" or none: standard input) and lists the most frequent ones.
--
--   ovrelglue examples/wordfreq.lua -o build/bin/wordfreq
--   build/bin/wordfreq README.md docs/launcher.md
--
-- The words are grouped by how often they occur in a numhash map from a
-- count to the words seen that often.  Glued into a self-running program,
-- the script finds numhash beside the program, which has its own folder on
-- the module path, so the program runs from any folder as long as the
-- module ships beside it.
local numhash = require "numhash"


local counts, total = {}, 0

local function count(f, name)
  local n = 0
  for line in f:lines() do
    for word in line:lower():gmatch("%a[%a']*") do
      counts[word] = (counts[word] or 0) + 1
      n = n + 1
    end
  end
  total = total + n
  io.write("wordfreq: ", name, ": ", n, " words\n")
end

local names = {...}
if #names == 0 then names = {"-"} end
for _, name in ipairs(names) do
  if name == "-" then
    count(io.stdin, "standard input")
  else
    local f, err = io.open(name, "r")
    if not f then
      io.stderr:write("wordfreq: ", err, "\n")
      os.exit(1)
    end
    count(f, name)
    f:close()
  end
end

-- count -> the words seen that often, in alphabetical order.
local sorted, distinct = {}, 0
for word in pairs(counts) do
  distinct = distinct + 1
  sorted[distinct] = word
end
table.sort(sorted)
local bycount = numhash.new()
for _, word in ipairs(sorted) do
  local n = counts[word]
  bycount[n] = bycount[n] and bycount[n] .. " " .. word or word
end

local a = numhash.attrib(bycount)
io.write(string.format("%d words, %d distinct, %d different counts (%s in %d buckets)\n",
                       total, distinct, #bycount, tostring(bycount), a.capacity))

-- The map walks its buckets in their own order; rank the counts.
local ranks = {}
for n in numhash.iterate(bycount) do ranks[#ranks + 1] = n end
table.sort(ranks, function(x, y) return x > y end)
for i = 1, math.min(#ranks, 10) do
  local words = bycount[ranks[i]]
  if #words > 60 then words = words:sub(1, 57) .. "..." end
  io.write(string.format("%6d  %s\n", ranks[i], words))
end
if numhash.has(bycount, "numhash") then
  io.write("(\"numhash\" is the only word with its count)\n")
end
