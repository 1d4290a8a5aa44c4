# nlohmann-json, from Debian's nlohmann-json3-dev: header-only, for every JSON the project reads
# or writes. The Windows cross builds must not see the host's /usr/include as a whole, so every
# build gets a folder of its own that holds only these headers.
find_path(KRT_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT KRT_NLOHMANN_DIR)
  message(FATAL_ERROR "nlohmann/json.hpp not found: install nlohmann-json3-dev (scripts/setup.sh does)")
endif()
set(KRT_JSON_INCLUDE ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${KRT_JSON_INCLUDE})
file(CREATE_LINK ${KRT_NLOHMANN_DIR}/nlohmann ${KRT_JSON_INCLUDE}/nlohmann SYMBOLIC)
add_library(krt_json INTERFACE)
target_include_directories(krt_json SYSTEM INTERFACE ${KRT_JSON_INCLUDE})
