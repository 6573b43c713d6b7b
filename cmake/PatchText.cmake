# PatchText.cmake: edits to third-party sources unpacked in the build folder.

# Replaces every `before` in `file` with `after`; stops the configuration
# when `before` is absent, since the sources are then not the ones expected.
# An optional count is how often `before` must occur, exactly.
function(patch_text file before after)
  file(READ ${file} text)
  string(FIND "${text}" "${before}" at)
  if(at LESS 0)
    message(FATAL_ERROR "unexpected ${file}: no \"${before}\"")
  endif()
  if(ARGC GREATER 3)
    string(LENGTH "${text}" whole)
    string(REPLACE "${before}" "" rest "${text}")
    string(LENGTH "${rest}" left)
    string(LENGTH "${before}" one)
    math(EXPR times "(${whole} - ${left}) / ${one}")
    if(NOT times EQUAL ARGV3)
      message(FATAL_ERROR "unexpected ${file}: \"${before}\" ${times} times, not ${ARGV3}")
    endif()
  endif()
  string(REPLACE "${before}" "${after}" text "${text}")
  file(WRITE ${file} "${text}")
endfunction()
