#!/usr/bin/env ovrelrun
-- script.lua: the self-running program of the launcher's heap-failure runs.
local parts = {}
for i = 1, 40 do parts[i] = ("x"):rep(i) end
local joined = table.concat(parts)
io.write("args: ", table.concat({...}, ","), "; args[0] given: ", tostring(type(args[0]) == "string"),
         "; ", #joined, "\n")
