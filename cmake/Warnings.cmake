# One place for the warning flags every target of ours gets.
function(fw_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${FWUPGRADE_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow $<$<BOOL:${FWUPGRADE_WERROR}>:-Werror>)
  endif()
endfunction()
