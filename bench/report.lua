-- report.lua: turns the raw results into docs/benchmarks.md and chart data.
--
--   lua5.1 report.lua RESULTS_DIR OUT.md CHART_DIR
--
-- RESULTS_DIR holds core.csv (Google Benchmark, aggregates only), script.tsv
-- (script_bench.lua), steps.tsv (read_steps.lua), startup.csv (hyperfine
-- --export-csv) and machine.txt (name = value lines); clustered.tsv
-- (clustered.cpp), engines.tsv (engines.lua) with engines.txt naming its run,
-- and the others below are optional.  CHART_DIR receives the data files for the chart.
local dir, out, chartdir = arg[1], arg[2], arg[3]

local function lines(path)
  local f = assert(io.open(path))
  local t = {}
  for l in f:lines() do t[#t + 1] = l end
  f:close()
  return t
end

-- "key = value" lines: the table, and the keys in file order.
local function keyvalues(path)
  local t, order = {}, {}
  for _, l in ipairs(lines(path)) do
    local k, v = l:match("^([^=]-)%s*=%s*(.*)$")
    if k then
      t[k] = v
      order[#order + 1] = k
    end
  end
  return t, order
end

local function csvsplit(l)
  local fields, pos = {}, 1
  while pos <= #l + 1 do
    local c = l:sub(pos, pos)
    if c == '"' then
      local close = l:find('"', pos + 1, true)
      fields[#fields + 1] = l:sub(pos + 1, close - 1)
      pos = close + 2
    else
      local comma = l:find(",", pos, true) or #l + 1
      fields[#fields + 1] = l:sub(pos, comma - 1)
      pos = comma + 1
    end
  end
  return fields
end

local function fmt(v, digits)
  if v == nil then return "–" end
  if v >= 100 then return string.format("%.0f", v) end
  if v >= 10 then return string.format("%.1f", v) end
  return string.format("%." .. (digits or 2) .. "f", v)
end

local function ratio(a, b)
  if not a or not b or b == 0 then return "–" end
  return string.format("%.2f", a / b)
end

-- ----------------------------------------------------------------------
-- Inputs
-- ----------------------------------------------------------------------

local machine, machine_order = keyvalues(dir .. "/machine.txt")

-- core[op][keys][n][map] = {med=, cv=, bytes=}
local core = {}
do
  local rows = lines(dir .. "/core.csv")
  local header = csvsplit(rows[1])
  local col = {}
  for i, h in ipairs(header) do col[h] = i end
  for r = 2, #rows do
    local f = csvsplit(rows[r])
    local op, keys, n, map, stat = f[1]:match("^(%w+)/(%w+)/(%d+)/(%w+)/real_time_(%w+)$")
    if op then
      n = tonumber(n)
      core[op] = core[op] or {}
      core[op][keys] = core[op][keys] or {}
      core[op][keys][n] = core[op][keys][n] or {}
      local e = core[op][keys][n][map] or {}
      core[op][keys][n][map] = e
      local ns, bytes = tonumber(f[col.ns_per_op]), tonumber(f[col.bytes_per_entry])
      if stat == "median" then
        e.med, e.bytes = ns, bytes
        e.probes, e.compares = tonumber(f[col.probes or 0]), tonumber(f[col.compares or 0])
      elseif stat == "cv" then
        e.cv = ns
      end
    end
  end
end

-- script[workload][keys][n][structure] = {med, min, max}
local script = {}
for _, l in ipairs(lines(dir .. "/script.tsv")) do
  local _, w, keys, n, s, med, lo, hi = l:match(
    "^(%w+)\t([%w-]+)\t(%w+)\t(%d+)\t(%w+)\t(%S+)\t(%S+)\t(%S+)$")
  if w then
    n = tonumber(n)
    script[w] = script[w] or {}
    script[w][keys] = script[w][keys] or {}
    script[w][keys][n] = script[w][keys][n] or {}
    script[w][keys][n][s] = {tonumber(med), tonumber(lo), tonumber(hi)}
  end
end

-- steps[i] = {label=, [n]=ns}, in the order first seen
local steps, stepindex = {}, {}
for _, l in ipairs(lines(dir .. "/steps.tsv")) do
  local n, label, ns = l:match("^step\t(%d+)\t([^\t]+)\t(%S+)$")
  if n then
    if not stepindex[label] then
      steps[#steps + 1] = {label = label}
      stepindex[label] = steps[#steps]
    end
    stepindex[label][tonumber(n)] = tonumber(ns)
  end
end

-- Optional inputs: sequential.tsv (sequential.lua) and churn.tsv (churn.lua).
local function optlines(path)
  local f = io.open(path)
  if not f then return {} end
  f:close()
  return lines(path)
end

-- seq[n][keys .. " " .. structure][op] = ns; seqhomes[n] = {capacity, used, most, mean, longest}
local seq, seqhomes, seqns = {}, {}, {}
for _, l in ipairs(optlines(dir .. "/sequential.tsv")) do
  local keys, n, s, op, ns = l:match("^seq\t(%w+)\t(%d+)\t(%w+)\t(%w+)\t(%S+)\t%S+$")
  if keys then
    n = tonumber(n)
    if not seq[n] then
      seq[n] = {}
      seqns[#seqns + 1] = n
    end
    seq[n][keys .. " " .. s] = seq[n][keys .. " " .. s] or {}
    seq[n][keys .. " " .. s][op] = tonumber(ns)
  end
  local hn, cap, used, most, mean, longest = l:match("^homes\t(%d+)\t(%d+)\t(%d+)\t(%d+)\t(%S+)\t(%d+)$")
  if hn then
    seqhomes[tonumber(hn)] = {tonumber(cap), tonumber(used), tonumber(most), tonumber(mean),
                              tonumber(longest)}
  end
end
table.sort(seqns)

-- clustered[n][keys][rule] = {insert, read, miss, bytes}; clusterns and clusterkeys in file order
local clustered, clusterns, clusterkeys = {}, {}, {}
for _, l in ipairs(optlines(dir .. "/clustered.tsv")) do
  local keys, n, rule, ins, rd, miss, bytes = l:match("^(%S+)\t(%d+)\t(%a+)\t(%S+)\t(%S+)\t(%S+)\t(%S+)")
  if keys and keys ~= "keys" then
    n = tonumber(n)
    if not clustered[n] then
      clustered[n] = {}
      clusterns[#clusterns + 1] = n
    end
    if not clustered[n][keys] then
      clustered[n][keys] = {}
      if n == clusterns[1] then clusterkeys[#clusterkeys + 1] = keys end
    end
    clustered[n][keys][rule] = {tonumber(ins), tonumber(rd), tonumber(miss), tonumber(bytes)}
  end
end

-- churn[i] = {remedy, maps, buckets, entries, peak heap MB, peak resident MB, resident MB after, s}
local churn = {}
for _, l in ipairs(optlines(dir .. "/churn.tsv")) do
  local f = {}
  for field in l:gmatch("[^\t]+") do f[#f + 1] = field end
  if f[1] == "churn" and #f == 9 then
    churn[#churn + 1] = {f[2]}
    for i = 3, 9 do churn[#churn][i - 1] = tonumber(f[i]) end
  end
end

-- engines[i] = {name=, [workload .. " " .. keys .. " " .. n] = {table=, map=}}, each
-- {med, min, max}, engines in file order (engines.lua); engines.txt names their run.
local engines, engineindex = {}, {}
for _, l in ipairs(optlines(dir .. "/engines.tsv")) do
  local e, wl, keys, n, s, med, lo, hi = l:match(
    "^([^\t]+)\t(%a+)\t(%a+)\t(%d+)\t(%a+)\t(%S+)\t(%S+)\t(%S+)$")
  if e then
    if not engineindex[e] then
      engines[#engines + 1] = {name = e}
      engineindex[e] = engines[#engines]
    end
    local row = wl .. " " .. keys .. " " .. n
    engineindex[e][row] = engineindex[e][row] or {}
    engineindex[e][row][s] = {tonumber(med), tonumber(lo), tonumber(hi)}
  end
end

-- The runs of a hyperfine CSV export, {command=, mean=, stddev=, median=,
-- min=, max=, user=, system=} in seconds each; none when there is no file.
local function hyperfine(path)
  local runs, probe = {}, io.open(path)
  if not probe then return runs end
  probe:close()
  local rows = lines(path)
  local header = csvsplit(rows[1])
  for r = 2, #rows do
    local f, e = csvsplit(rows[r]), {}
    for i, h in ipairs(header) do e[h] = tonumber(f[i]) or f[i] end
    runs[#runs + 1] = e
  end
  return runs
end

local startup = hyperfine(dir .. "/startup.csv")
-- Nothing carried, then 100 MiB.
local carry = hyperfine(dir .. "/carry.csv")

-- ----------------------------------------------------------------------
-- Document
-- ----------------------------------------------------------------------

local o = {}
local function w(...)
  o[#o + 1] = table.concat({...})
end

local maps = {"core", "std", "absl", "boost"}
local mapnames = {core = "core", std = "std::unordered_map",
                  absl = "absl::flat_hash_map", boost = "boost::unordered_flat_map"}
local ops = {"insert", "findhit", "findmiss", "erase", "iterate"}
local opnames = {insert = "insert", findhit = "find hit", findmiss = "find miss",
                 erase = "erase", iterate = "iteration"}
local keykinds = {"random", "sequential", "stride"}
local sizes = {1000, 100000, 1000000}

local function get(op, keys, n, map)
  local t = core[op] and core[op][keys] and core[op][keys][n]
  return t and t[map]
end

w("# Benchmarks")
w("")
w("Written by `scripts/bench.sh`; do not edit by hand. How the figures are")
w("made, and why some goals are out of reach, is in [performance.md](performance.md).")
w("")
w("![chart](benchmarks.png)")
w("")
w("## Machine and run")
w("")
w("| | |")
w("|---|---|")
for _, k in ipairs(machine_order) do w("| ", k, " | ", machine[k], " |") end
w("")

-- Goals first: the figures the project aims at, judged here.
local goals = {}
local function goal(text, reached, figures)
  goals[#goals + 1] = {text, reached, figures}
end

do
  local n = 1000000
  for _, op in ipairs({"findhit", "findmiss", "insert"}) do
    local c, s, a, b = get(op, "random", n, "core"), get(op, "random", n, "std"),
                       get(op, "random", n, "absl"), get(op, "random", n, "boost")
    if c and s and a and b then
      local ok = c.med <= a.med and c.med <= b.med
      goal("core " .. opnames[op] .. ", random keys, 10^6: no slower than absl and boost", ok,
        string.format("core %s ns, absl %s ns (%sx), boost %s ns (%sx)", fmt(c.med), fmt(a.med),
          ratio(a.med, c.med), fmt(b.med), ratio(b.med, c.med)))
      goal("core " .. opnames[op] .. ", random keys, 10^6: at least 3x faster than std::unordered_map",
        s.med >= 3 * c.med,
        string.format("core %s ns, std %s ns (%sx)", fmt(c.med), fmt(s.med), ratio(s.med, c.med)))
    end
  end
  local function sget(wl, keys, s)
    local t = script[wl] and script[wl][keys] and script[wl][keys][n]
    return t and t[s] and t[s][1]
  end
  for _, keys in ipairs({"random", "sequential"}) do
    local mm, tm = sget("memory", keys, "map"), sget("memory", keys, "table")
    if mm and tm then
      goal("script, " .. keys .. " keys, 10^6: memory per entry <= 0.6x a table's", mm <= 0.6 * tm,
        string.format("map %s B, table %s B (%sx)", fmt(mm), fmt(tm), ratio(mm, tm)))
    end
    local mg, tg = sget("gc", keys, "map"), sget("gc", keys, "table")
    if mg and tg then
      goal("script, " .. keys .. " keys, 10^6: full collection <= 0.1x with the table", mg <= 0.1 * tg,
        string.format("map %s ms, table %s ms (%sx)", fmt(mg, 3), fmt(tg), ratio(mg, tg)))
    end
    for _, wl in ipairs({"store", "read", "delete", "iterate"}) do
      local m, t = sget(wl, keys, "map"), sget(wl, keys, "table")
      if m and t then
        goal("script, " .. keys .. " keys, 10^6: " .. wl .. " within 1.5x of the table", m <= 1.5 * t,
          string.format("map %s ns, table %s ns (%sx)", fmt(m), fmt(t), ratio(m, t)))
      end
    end
  end
  for _, sn in ipairs({100000, 1000000}) do
    local mr = stepindex["`m[k]` through `__index`"]
    local fl
    for _, st in ipairs(steps) do if st.label:match("^the floor") then fl = st end end
    if mr and fl and mr[sn] and fl[sn] then
      goal("script, random keys, " .. (sn == 100000 and "10^5" or "10^6") ..
        ": map read within 1.15x of the native floor", mr[sn] <= 1.15 * fl[sn],
        string.format("map %s ns, floor %s ns (%sx)", fmt(mr[sn]), fmt(fl[sn]), ratio(mr[sn], fl[sn])))
    end
  end
  local big = clusterns[#clusterns]
  if big == 10000000 then
    local base = clustered[big].random and clustered[big].random.aids
    for _, keys in ipairs(clusterkeys) do
      local e = clustered[big][keys].aids
      if keys ~= "random" and base and e then
        goal("core, " .. keys .. " keys, 10^7, with the lookup aids: insert and read within 3x of random keys",
          e[1] <= 3 * base[1] and e[2] <= 3 * base[2],
          string.format("insert %s ns (%sx), read %s ns (%sx)", fmt(e[1]), ratio(e[1], base[1]),
            fmt(e[2]), ratio(e[2], base[2])))
      end
    end
  end
  local hello, lua
  for _, e in ipairs(startup) do
    if e.command == "self-running hello" then hello = e end
    if e.command == "lua5.1 hello.lua" then lua = e end
  end
  if hello and lua then
    goal("self-running hello-world within 1.1x of lua5.1 hello.lua", hello.mean <= 1.1 * lua.mean,
      string.format("%s ms against %s ms (%sx)", fmt(hello.mean * 1e3), fmt(lua.mean * 1e3),
        ratio(hello.mean, lua.mean)))
  end
  if carry[1] and carry[2] then
    goal("a program carrying 100 MiB starts within 1.1x of the same carrying nothing",
      carry[2].mean <= 1.1 * carry[1].mean,
      string.format("%s ms against %s ms (%sx)", fmt(carry[2].mean * 1e3), fmt(carry[1].mean * 1e3),
        ratio(carry[2].mean, carry[1].mean)))
  end
end

w("## Goals")
w("")
w("| Goal | Reached | Figures |")
w("|---|---|---|")
for _, g in ipairs(goals) do w("| ", g[1], " | ", g[2] and "yes" or "**no**", " | ", g[3], " |") end
w("")

w("## Table core against general-purpose maps")
w("")
w("Nanoseconds per operation, median of ", machine.repetitions or "?",
  " repetitions; the spread is the coefficient of variation of the core's figure")
w("across them. The ratio columns are the peer's time over the core's: above 1,")
w("the core is faster. Keys are random doubles, the integers 1..n, or integers")
w("1000003 apart; values are 12-byte strings.")
w("")
w("| Operation | Keys | n | core | spread | std | absl | boost | std/core | absl/core | boost/core |")
w("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
for _, op in ipairs(ops) do
  for _, keys in ipairs(keykinds) do
    for _, n in ipairs(sizes) do
      local c, s, a, b = get(op, keys, n, "core"), get(op, keys, n, "std"),
                         get(op, keys, n, "absl"), get(op, keys, n, "boost")
      if c then
        w("| ", opnames[op], " | ", keys, " | ", n, " | ", fmt(c.med), " | ",
          c.cv and string.format("%.1f%%", c.cv * 100) or "–", " | ",
          fmt(s and s.med), " | ", fmt(a and a.med), " | ", fmt(b and b.med), " | ",
          ratio(s and s.med, c.med), " | ", ratio(a and a.med, c.med), " | ",
          ratio(b and b.med, c.med), " |")
      end
    end
  end
end
w("")
w("Bytes per entry after inserting n entries: the heap in use (malloc chunks,")
w("mapped blocks included) for the map and its strings, divided by n.")
w("")
w("| Keys | n | core | std | absl | boost | core/std | core/absl | core/boost |")
w("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
for _, keys in ipairs(keykinds) do
  for _, n in ipairs(sizes) do
    local c, s, a, b = get("insert", keys, n, "core"), get("insert", keys, n, "std"),
                       get("insert", keys, n, "absl"), get("insert", keys, n, "boost")
    if c then
      w("| ", keys, " | ", n, " | ", fmt(c.bytes), " | ", fmt(s and s.bytes), " | ",
        fmt(a and a.bytes), " | ", fmt(b and b.bytes), " | ", ratio(c.bytes, s and s.bytes), " | ",
        ratio(c.bytes, a and a.bytes), " | ", ratio(c.bytes, b and b.bytes), " |")
    end
  end
end
w("")

w("What a find costs the core in its own terms: buckets visited and keys compared")
w("per find, averaged over the same keys (the peers keep a few hash bits per slot")
w("and compare a key only when those match).")
w("")
w("| Keys | n | hit: buckets | hit: keys compared | miss: buckets | miss: keys compared |")
w("|---|---:|---:|---:|---:|---:|")
for _, keys in ipairs(keykinds) do
  for _, n in ipairs(sizes) do
    local h, m = get("findhit", keys, n, "core"), get("findmiss", keys, n, "core")
    if h and m and h.probes and h.probes > 0 then
      w("| ", keys, " | ", n, " | ", fmt(h.probes), " | ", fmt(h.compares), " | ", fmt(m.probes),
        " | ", fmt(m.compares), " |")
    end
  end
end
w("")

w("## Script level: a numhash map against a plain table (lua5.1)")
w("")
w("Nanoseconds per operation, median of ", machine["script repetitions"] or "?",
  " runs with the range [min, max]. Store is `s[k] = v`, read `s[k]`,")
w("delete `numhash.purge(m, k)` or `t[k] = nil`, iteration `numhash.iterate` or")
w("`pairs`. Random keys are distinct non-integers; sequential keys are 1..n,")
w("which a table keeps in its array part.")
w("")
w("| Workload | Keys | n | table | map | map/table |")
w("|---|---|---:|---:|---:|---:|")
local function range(e)
  return string.format("%s [%s, %s]", fmt(e[1]), fmt(e[2]), fmt(e[3]))
end
for _, wl in ipairs({"store", "read", "delete", "iterate"}) do
  for _, keys in ipairs({"random", "sequential"}) do
    for _, n in ipairs({100000, 1000000}) do
      local t = script[wl] and script[wl][keys] and script[wl][keys][n]
      if t and t.map and t.table then
        w("| ", wl, " | ", keys, " | ", n, " | ", range(t.table), " | ", range(t.map), " | ",
          ratio(t.map[1], t.table[1]), " |")
      end
    end
  end
end
w("")
w("A read taken apart (random keys, ns per operation, best of 5 passes):")
w("")
w("| Step | n = 100000 | n = 1000000 |")
w("|---|---:|---:|")
for _, st in ipairs(steps) do
  w("| ", st.label, " | ", fmt(st[100000]), " | ", fmt(st[1000000]), " |")
end
do
  local mr, tr, fl = stepindex["`m[k]` through `__index`"], stepindex["table read `t[k]`"], nil
  for _, st in ipairs(steps) do if st.label:match("^the floor") then fl = st end end
  if mr and fl then
    w("| map read / floor | ", ratio(mr[100000], fl[100000]), " | ", ratio(mr[1000000], fl[1000000]), " |")
  end
  if mr and tr then
    w("| map read / table read | ", ratio(mr[100000], tr[100000]), " | ", ratio(mr[1000000], tr[1000000]), " |")
  end
  if fl and tr then
    w("| floor / table read | ", ratio(fl[100000], tr[100000]), " | ", ratio(fl[1000000], tr[1000000]), " |")
  end
end
w("")
w("Memory per entry in bytes: growth of the C heap in use (the runtime's heap and")
w("the module's, counted by malloc) from building the structure with fresh")
w("12-byte values, after full collections; in brackets the part that the runtime")
w("accounts for (`collectgarbage(\"count\")`; below zero when the runtime's string")
w("table ends smaller than it began). Full collection: milliseconds for one")
w("`collectgarbage(\"collect\")` with only that structure alive, median of ",
  machine["gc repetitions"] or "?", " and range.")
w("")
w("| Keys | n | table B/entry | map B/entry | map/table | table GC ms | map GC ms | nothing alive GC ms | map/table GC |")
w("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
for _, keys in ipairs({"random", "sequential"}) do
  for _, n in ipairs({100000, 1000000}) do
    local m = script.memory and script.memory[keys] and script.memory[keys][n]
    local h = script["runtime-heap"][keys][n]
    local g = script.gc[keys][n]
    if m then
      w("| ", keys, " | ", n, " | ", fmt(m.table[1]), " (", fmt(h.table[1]), ") | ",
        fmt(m.map[1]), " (", fmt(h.map[1]), ") | ", ratio(m.map[1], m.table[1]), " | ",
        range(g.table), " | ", string.format("%.3f [%.3f, %.3f]", g.map[1], g.map[2], g.map[3]),
        " | ", string.format("%.3f", g.nothing[1]), " | ", string.format("%.4f", g.map[1] / g.table[1]),
        " |")
    end
  end
end
w("")

w("Memory per entry against n, random keys: where each structure stands in its")
w("own growth steps. The map doubles when its occupancy reaches 0.77 of its")
w("buckets; a table's hash part only when it is full.")
w("")
w("| n | table B/entry | map B/entry | map/table | map buckets | map load |")
w("|---:|---:|---:|---:|---:|---:|")
do
  local ns = {}
  for n in pairs(script.memory and script.memory.random or {}) do ns[#ns + 1] = n end
  table.sort(ns)
  for _, n in ipairs(ns) do
    local m = script.memory.random[n]
    local c = script.capacity and script.capacity.random[n] and script.capacity.random[n].map
    if m.map and m.table then
      w("| ", n, " | ", fmt(m.table[1]), " | ", fmt(m.map[1]), " | ", ratio(m.map[1], m.table[1]),
        " | ", c and string.format("%d", c[1]) or "–", " | ",
        c and string.format("%.3f", n / c[1]) or "–", " |")
    end
  end
end
w("")

if #seqns > 0 then
  w("## Sequential integer keys as n grows (lua5.1)")
  w("")
  w("The keys 1..n inserted in order and read back shuffled, one pass each, in one")
  w("process with random keys in a map and the same integers in a table; ns per")
  w("operation. Buckets to a key: how far along its probe sequence every 97th key lies in the")
  w("finished map.")
  w("")
  w("| n | map buckets | table insert | table read | map insert | map read | random map insert | random map read | seq/random read | home buckets used | most keys on one | buckets to a key (max) |")
  w("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
  for _, n in ipairs(seqns) do
    local e, h = seq[n], seqhomes[n] or {}
    local t, m, r = e["sequential table"] or {}, e["sequential map"] or {}, e["random map"] or {}
    w("| ", n, " | ", h[1] or "–", " | ", fmt(t.insert), " | ", fmt(t.read), " | ", fmt(m.insert), " | ",
      fmt(m.read), " | ", fmt(r.insert), " | ", fmt(r.read), " | ", ratio(m.read, r.read), " | ",
      h[2] or "–", " | ", h[3] or "–", " | ", h[4] and string.format("%s (%d)", fmt(h[4]), h[5]) or "–", " |")
  end
  w("")
end

if #clusterns > 0 then
  w("## Clustered keys: the lookup aids against the plain rules (table core)")
  w("")
  w("One table filled with the lookup aids and one by the plain rules alone, with the")
  w("same keys in the same order, in one process; both then come out the same bit for")
  w("bit (the benchmark checks). ns per operation: insert (every growth included),")
  w("read back in shuffled order (the plain rules' reads on a random sample when their")
  w("walks are long), and as many absent keys. Keys: random doubles with a full")
  w("mantissa; the integers 1..n; 1.5..n+0.5; and `math.floor(math.random() * 2^31)`")
  w("as the engine's generator makes them. Bytes per entry: the table and its aids")
  w("(values are one shared string). The last columns compare with random keys under")
  w("the same rule.")
  w("")
  w("| Keys | n | rule | insert | read | miss | bytes per entry | insert / random | read / random |")
  w("|---|---:|---|---:|---:|---:|---:|---:|---:|")
  for _, n in ipairs(clusterns) do
    for _, keys in ipairs(clusterkeys) do
      for _, rule in ipairs({"aids", "plain"}) do
        local e, r = clustered[n][keys] and clustered[n][keys][rule], clustered[n].random and clustered[n].random[rule]
        if e then
          w("| ", keys, " | ", n, " | ", rule, " | ", fmt(e[1]), " | ", fmt(e[2]), " | ", fmt(e[3]), " | ",
            fmt(e[4]), " | ", r and ratio(e[1], r[1]) or "–", " | ", r and ratio(e[2], r[2]) or "–", " |")
        end
      end
    end
  end
  w("")
end

if #churn > 0 then
  w("## Making and dropping large maps (lua5.1)")
  w("")
  w(string.format("A loop makes %d maps of %d buckets, stores %d entries in each and drops it.",
    churn[1][2], churn[1][3], churn[1][4]))
  w("Peak heap: the most the C heap had handed out at once (memprobe.heap); resident:")
  w("the process's resident memory (/proc/self/statm), at its peak and after a full")
  w("collection at the end.")
  w("")
  w("| Remedy | peak heap MB | peak resident MB | resident after MB | seconds |")
  w("|---|---:|---:|---:|---:|")
  for _, c in ipairs(churn) do
    w("| ", c[1], " | ", fmt(c[5]), " | ", fmt(c[6]), " | ", fmt(c[7]), " | ", fmt(c[8]), " |")
  end
  w("")
end

if #engines > 0 then
  local info, order = {}, {}
  local probe = io.open(dir .. "/engines.txt")
  if probe then
    probe:close()
    info, order = keyvalues(dir .. "/engines.txt")
  end
  local versions = {}
  for _, k in ipairs(order) do
    if k:match("^lua") then versions[#versions + 1] = info[k] end
  end
  w("## Script level on each engine: a numhash map against the engine's own table")
  w("")
  w("Run: ", info.date or "?", ", ", info.processor or "?", ", commit ", info.commit or "?",
    ", load (1, 5, 15 min) ", info["load before (1, 5, 15 min)"] or "?", " before and ",
    info["load after (1, 5, 15 min)"] or "?", " after; ",
    #versions > 0 and table.concat(versions, ", ") or "?", ".")
  w("")
  w("`bench/engines.lua` under each interpreter, with the module built for that engine")
  w("(lua5.1 and LuaJIT load the 5.1 build). Nanoseconds per operation from `os.clock`")
  w("(CPU time), median of ", info.repetitions or "?", " runs with the range [min, max]; in each run")
  w("the table and the map take turns in one process. Write is `s[k] = v` of n keys")
  w("into a fresh structure, the values made beforehand; read is `s[k]` of every key")
  w("in shuffled order. Sequential keys are 1..n; random keys are the distinct")
  w("non-integers `(i + math.random()) * 1024`, inserted in shuffled order, from each")
  w("engine's own generator.")
  w("")
  w("| Engine | Workload | Keys | n | table | map | map/table |")
  w("|---|---|---|---:|---:|---:|---:|")
  for _, e in ipairs(engines) do
    for _, wl in ipairs({"write", "read"}) do
      for _, keys in ipairs({"sequential", "random"}) do
        for _, n in ipairs({100000, 1000000}) do
          local t = e[wl .. " " .. keys .. " " .. n]
          if t and t.map and t.table then
            w("| ", e.name, " | ", wl, " | ", keys, " | ", n, " | ", range(t.table), " | ",
              range(t.map), " | ", ratio(t.map[1], t.table[1]), " |")
          end
        end
      end
    end
  end
  w("")
end

w("## Launcher start-up (hyperfine)")
w("")
w("Start-to-exit time of each command, ", machine["startup runs"] or "?",
  " runs after warm-up; ratios against `lua5.1 hello.lua`.")
w("")
w("| Command | mean ms | σ ms | median ms | min ms | max ms | vs lua5.1 hello.lua |")
w("|---|---:|---:|---:|---:|---:|---:|")
local base
for _, e in ipairs(startup) do if e.command == "lua5.1 hello.lua" then base = e.mean end end
for _, e in ipairs(startup) do
  w("| ", e.command, " | ", fmt(e.mean * 1e3, 3), " | ", fmt(e.stddev * 1e3, 3), " | ",
    fmt(e.median * 1e3, 3), " | ", fmt(e.min * 1e3, 3), " | ", fmt(e.max * 1e3, 3), " | ",
    ratio(e.mean, base), " |")
end
w("")
do
  local probe = io.open(dir .. "/sizes.txt")
  if probe then
    probe:close()
    local size = keyvalues(dir .. "/sizes.txt")
    w("\"self-running hello\" is glued onto the standalone launcher, the default on Linux: ",
      size["standalone"], " bytes, needing only the C library, ", size["glibc floor"],
      " or later (its newest versioned symbol).  On the shared-library launcher it is ",
      size["shared-library launcher"], " bytes, and needs the runtime library (",
      size["runtime library"], " bytes) beside it and the engine (", size["engine library"],
      " bytes) on the system.")
    w("")
  end
end

-- Start-up of a program that carries data: carry.csv and carry.txt.
if carry[2] then
  local info = keyvalues(dir .. "/carry.txt")
  w("## Start-up of a program that carries data (hyperfine)")
  w("")
  w("`bench/carry.lua` glued twice: carrying nothing (", info["bytes nothing"] or "?",
    " bytes), and carrying ten files of 10 MiB (`--include`, ", info["bytes carrying"] or "?",
    " bytes), in one hyperfine command, ", machine["startup runs"] or "?",
    " runs each after warm-up; ratios against the program carrying nothing.")
  w("")
  w("| Command | mean ms | σ ms | median ms | min ms | max ms | vs carrying nothing |")
  w("|---|---:|---:|---:|---:|---:|---:|")
  for _, e in ipairs(carry) do
    w("| ", e.command, " | ", fmt(e.mean * 1e3, 3), " | ", fmt(e.stddev * 1e3, 3), " | ",
      fmt(e.median * 1e3, 3), " | ", fmt(e.min * 1e3, 3), " | ", fmt(e.max * 1e3, 3), " | ",
      ratio(e.mean, carry[1].mean), " |")
  end
  w("")
  w("Peak resident memory (VmHWM): ", info["peak nothing"] or "?", " kB carrying nothing; ",
    info["peak carrying"] or "?", " kB carrying 100 MiB and reading none of it; ",
    info["peak reading"] or "?", " kB after `app.read` of one carried file of ",
    info["read bytes"] or "?", " bytes, whose bytes are held twice while the string is made.")
  w("")
end

-- Start-up of a program of several files: bundle.csv (hyperfine, each
-- installed command followed by its bundled twin) and bundle.txt.
do
  local probe = io.open(dir .. "/bundle.csv")
  if probe then
    probe:close()
    local info = keyvalues(dir .. "/bundle.txt")
    local runs = hyperfine(dir .. "/bundle.csv")
    w("## Start-up of a program of several files (hyperfine)")
    w("")
    w("Debian's luacheck from its installed files (`/usr/bin/luacheck` under `lua5.1`, ",
      info["installed files"] or "?", " Lua files, ", info["installed bytes"] or "?",
      " bytes, found through `package.path`) against the same program bundled by ",
      "`ovrelglue /usr/bin/luacheck -m 'luacheck.*'` into one self-running file of ",
      info["bundle bytes"] or "?", " bytes (", info["bundled modules"] or "?",
      " modules), in one hyperfine command, ", info["bundle runs"] or "?",
      " runs each after warm-up; CPU is user and system time; instructions are counted by ",
      "callgrind in one run each. Below 1 the bundle starts faster.")
    w("")
    w("| Command | mean ms | σ ms | median ms | CPU ms | instructions (M) | bundled / installed: mean | CPU | instructions |")
    w("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    local instr = {}
    for i = 1, #runs do instr[i] = tonumber(info["instructions " .. i]) end
    for i, e in ipairs(runs) do
      local installed = i % 2 == 0 and runs[i - 1] or nil
      local cpu = e.user + e.system
      w("| ", e.command, " | ", fmt(e.mean * 1e3, 3), " | ", fmt(e.stddev * 1e3, 3), " | ",
        fmt(e.median * 1e3, 3), " | ", fmt(cpu * 1e3, 3), " | ", fmt(instr[i] and instr[i] / 1e6), " | ",
        installed and ratio(e.mean, installed.mean) or "", " | ",
        installed and ratio(cpu, installed.user + installed.system) or "", " | ",
        installed and ratio(instr[i], instr[i - 1]) or "", " |")
    end
    w("")
  end
end

local f = assert(io.open(out, "w"))
f:write(table.concat(o, "\n"), "\n")
f:close()

-- ----------------------------------------------------------------------
-- Chart data
-- ----------------------------------------------------------------------

local d = assert(io.open(chartdir .. "/core.dat", "w"))
d:write("op core std absl boost\n")
for _, op in ipairs(ops) do
  d:write(string.format("%q", opnames[op]))
  for _, m in ipairs(maps) do
    local e = get(op, "random", 1000000, m)
    d:write(" ", e and e.med or "NaN")
  end
  d:write("\n")
end
d:close()

d = assert(io.open(chartdir .. "/script.dat", "w"))
d:write("workload random sequential\n")
for _, wl in ipairs({"store", "read", "delete", "iterate", "memory", "gc"}) do
  d:write(string.format("%q", wl))
  for _, keys in ipairs({"random", "sequential"}) do
    local t = script[wl] and script[wl][keys] and script[wl][keys][1000000]
    d:write(" ", t and t.map and t.table and t.map[1] / t.table[1] or "NaN")
  end
  d:write("\n")
end
d:close()

d = assert(io.open(chartdir .. "/startup.dat", "w"))
d:write("command mean stddev\n")
for _, e in ipairs(startup) do
  d:write(string.format("%q %g %g\n", e.command, e.mean * 1e3, e.stddev * 1e3))
end
d:close()
