# CLI11 and nlohmann-json, header-only, for the packer and its tests: taken from
# the build machine's Debian packages (scripts/setup). Every build, the cross
# builds included, sees them through a folder of its own in the build tree that
# holds only these two, so that no other header of the build machine can stand
# in for one of MinGW's.
find_path(SUNDRIFT_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(SUNDRIFT_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(SUNDRIFT_PACKER_INCLUDE ${CMAKE_BINARY_DIR}/packer-include)
file(MAKE_DIRECTORY ${SUNDRIFT_PACKER_INCLUDE})
file(CREATE_LINK ${SUNDRIFT_CLI11_INCLUDE}/CLI ${SUNDRIFT_PACKER_INCLUDE}/CLI SYMBOLIC)
file(CREATE_LINK ${SUNDRIFT_JSON_INCLUDE}/nlohmann ${SUNDRIFT_PACKER_INCLUDE}/nlohmann SYMBOLIC)
add_library(sundrift_packer_headers INTERFACE)
# Third-party code: its warnings are not ours to make errors of.
target_include_directories(sundrift_packer_headers SYSTEM INTERFACE ${SUNDRIFT_PACKER_INCLUDE})
