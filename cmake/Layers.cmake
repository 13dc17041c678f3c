# The layers' walls. Every layer's headers are included by their folder ("framework/fw.h"),
# and a target sees only the folders of the layers it links: its include root is a folder in
# the build tree holding links to its own source folders and nothing else, so an include of
# a layer a target does not depend on fails to compile. (scripts/check-includes.sh checks
# the order of the program's folders, which share one target.)
#
# fw_include_root(<target> <PUBLIC|PRIVATE|INTERFACE> <name> <source folder>...)
function(fw_include_root target scope name)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${name})
  file(MAKE_DIRECTORY ${root})
  foreach(folder ${ARGN})
    get_filename_component(leaf ${folder} NAME)
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${leaf} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} ${root})
endfunction()
