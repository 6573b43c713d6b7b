-- main.lua: the script of the glue tool's heap-failure runs: a Lua module
-- to bundle and a native one to travel beside it.
local helper = require "helper"
local map = require "numhash"
print(helper.greet(), map.new(4))
