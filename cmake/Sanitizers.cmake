# FWUPGRADE_SANITIZE=address,undefined or thread instruments every target of the build.
if(FWUPGRADE_SANITIZE)
  set(_san "-fsanitize=${FWUPGRADE_SANITIZE}" -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${_san})
  add_link_options(${_san})
endif()
