-- child.lua: ends as its argument says; run by probe.lua.
local how = ...
if how == "exit" then os.exit(3) end
if how == "raise" then error("boom") end
if how == "table" then error({}) end
