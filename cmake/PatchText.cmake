# PatchText.cmake: edits to third-party sources unpacked in the build folder.

# Replaces every `before` in `file` with `after`; stops the configuration
# when `before` is absent, since the sources are then not the ones expected.
function(patch_text file before after)
  file(READ ${file} text)
  string(FIND "${text}" "${before}" at)
  if(at LESS 0)
    message(FATAL_ERROR "unexpected ${file}: no \"${before}\"")
  endif()
  string(REPLACE "${before}" "${after}" text "${text}")
  file(WRITE ${file} "${text}")
endfunction()
