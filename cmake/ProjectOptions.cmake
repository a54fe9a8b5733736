# Warnings, sanitizers and third-party locations shared by every target.

option(WENDLOW_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(WENDLOW_BUILD_BENCH "Build the benchmarks (needs Google Benchmark)" OFF)
option(WENDLOW_BUILD_SVG "Build the SVG reader and the command line (needs pugixml and zlib)" ON)

option(WENDLOW_BUILD_FUZZ "Build the libFuzzer target (needs clang)" OFF)

if(WENDLOW_BUILD_FUZZ)
  # Coverage for libFuzzer on every target, with ASan and UBSan.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(WENDLOW_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# -Wall -Wextra -Werror on the project's own targets; third-party code
# (GoogleTest) builds with its own flags.
function(wendlow_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# nlohmann-json is header-only; expose just its directory so a cross build
# does not pick up the build machine's other headers.
find_path(NLOHMANN_JSON_ROOT nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(WENDLOW_THIRD_PARTY_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${WENDLOW_THIRD_PARTY_INCLUDE})
file(CREATE_LINK ${NLOHMANN_JSON_ROOT}/nlohmann ${WENDLOW_THIRD_PARTY_INCLUDE}/nlohmann SYMBOLIC)
add_library(nlohmann_json_headers INTERFACE)
target_include_directories(nlohmann_json_headers SYSTEM INTERFACE ${WENDLOW_THIRD_PARTY_INCLUDE})

# GoogleTest from Debian's sources, so every target (cross and sanitized
# builds included) gets a copy built with its own compiler and flags.
set(WENDLOW_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
