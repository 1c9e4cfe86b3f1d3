# nlohmann/json as one target for every folder that reads JSON: made once, visible everywhere.
include_guard(GLOBAL)
if(WIN32)
    # nlohmann/json is headers only: the Debian package's headers serve the cross build too, seen
    # through a folder of their own so that no other Linux header comes into view.
    find_path(QJ_NLOHMANN_JSON_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    set(QJ_JSON_INCLUDE ${CMAKE_BINARY_DIR}/json-include)
    file(MAKE_DIRECTORY ${QJ_JSON_INCLUDE})
    file(CREATE_LINK ${QJ_NLOHMANN_JSON_DIR}/nlohmann ${QJ_JSON_INCLUDE}/nlohmann SYMBOLIC)
    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
    target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${QJ_JSON_INCLUDE})
else()
    find_package(nlohmann_json 3 REQUIRED GLOBAL)
endif()
