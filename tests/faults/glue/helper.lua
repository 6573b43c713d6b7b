local M = {}
function M.greet() return "hello" end
return M
