-- carry.lua: a program that carries data.  Reads the carried file it is
-- given, if any, and writes how many bytes it read and its peak resident
-- memory in kB (VmHWM).
local app = require "ovrel.app"
local name = ...
local bytes = name and #assert(app.read(name)) or 0
local peak
for l in io.lines("/proc/self/status") do peak = peak or l:match("^VmHWM:%s*(%d+)") end
io.write(bytes, " ", peak, "\n")
