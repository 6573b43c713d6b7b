-- bigscript.lua: prints a script of about 10 MB that counts its own lines.
local line = "x = x + 1 -- padding to make the line forty bytes long\n"
local n = math.floor(10 * 1024 * 1024 / #line)
io.write("local x = 0\n")
for _ = 1, n do io.write(line) end
io.write("assert(x == ", n, ")\n")
