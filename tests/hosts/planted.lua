-- planted.lua: calls the one planted fault of the canary module that its argument names.
local canary = require "canary"
local which = ...
if which == "leak" then canary.leak() end
if which == "overrun" then canary.overrun(8) end
if which == "overflow" then print(canary.overflow(2147483647)) end
