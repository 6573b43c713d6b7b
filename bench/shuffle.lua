-- shuffle.lua: Fisher-Yates shuffle in place, drawing from math.random.
--
--   local shuffle = require "bench.shuffle"   -- run from the project root
return function(list)
  for i = #list, 2, -1 do
    local j = math.random(i)
    list[i], list[j] = list[j], list[i]
  end
  return list
end
