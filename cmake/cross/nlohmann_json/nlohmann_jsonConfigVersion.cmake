# The version check is Debian's own: the headers are the same ones.
include(/usr/share/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake)
