# nlohmann_json for the cross builds: the same headers as the native build, reached through a
# folder that holds nothing else.
if(NOT TARGET nlohmann_json::nlohmann_json)
  set(_fw_nl_inc ${CMAKE_BINARY_DIR}/cross-include)
  if(NOT EXISTS ${_fw_nl_inc}/nlohmann)
    file(MAKE_DIRECTORY ${_fw_nl_inc})
    file(CREATE_LINK /usr/include/nlohmann ${_fw_nl_inc}/nlohmann SYMBOLIC)
  endif()
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${_fw_nl_inc})
  unset(_fw_nl_inc)
endif()
set(nlohmann_json_FOUND TRUE)
