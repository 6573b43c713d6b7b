-- native.lua: native modules of every kind a shipped program meets.
local unistd = require "posix.unistd"  -- one file, posix.so, opens many modules
local lxp = require "lxp"              -- loads libexpat
local path = require "pl.path"         -- takes lfs through _G.pcall(_G.require, "lfs")
local ssl = require "ssl"              -- loads libssl, libcrypto and luasocket's library
local numhash = require "numhash"      -- loads the runtime library
local linked = require "linked"        -- names the engine's library as needed
local lpeg = require "lpeg"
local app = require "ovrel.app"        -- the data the program carries

local names = {}
local parser = lxp.new{StartElement = function(_, name) names[#names + 1] = name end}
parser:parse("<a><b/><c/></a>")
parser:close()
local m = numhash.new()
m[1] = "one"
local engines, memory = 0, false
for line in io.lines("/proc/self/maps") do
  if line:find("liblua5.1.so", 1, true) then engines = engines + 1 end
  memory = memory or line:find("/memfd:", 1, true) ~= nil
end
print(unistd.getpid() > 0, table.concat(names, " "), path.isdir("/"), path.basename("/x/y.txt"),
      type(ssl.newcontext), m[1], linked.where(), "engine libraries mapped: " .. engines)
print(lpeg.match(lpeg.C(lpeg.R"az"^1), "abc1"), app.read("data.txt"), "from memory: " .. tostring(memory))
