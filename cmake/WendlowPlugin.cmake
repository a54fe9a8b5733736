# How a plug-in of the host interface is linked, for the shipped plug-in and
# every test plug-in alike, and where the built plug-ins go.

# The shipped plug-in, as the host loads it (bin/plugins/WendlowBrindle.so),
# and the plug-ins built for tests only (the second plug-in of the same
# maker, the validator's deliberately broken ones): one directory each.
set(WENDLOW_PLUGIN_DIR ${CMAKE_BINARY_DIR}/bin/plugins)
set(WENDLOW_TEST_PLUGIN_DIR ${CMAKE_BINARY_DIR}/bin/test-plugins)

# wendlow_add_plugin(<target> SOURCES <source or object>...
#                    DIRECTORY <dir> [OUTPUT_NAME <name>] [RESOURCES <file>]
#                    [EXPORTS <symbol>...])
#
# Builds <dir>/<name>.so (<name> defaults to <target>; no "lib" prefix) as the
# host loads it: hidden visibility, a version script that exports the
# EXPORTS (PluginMain unless said otherwise) and makes everything else local,
# and -z defs, so a symbol left undefined fails the link rather than the
# host's load. The resource file is copied beside it as
# <dir>/<name>.resources.json, where the host looks for it.
function(wendlow_add_plugin target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DIRECTORY;OUTPUT_NAME;RESOURCES" "SOURCES;EXPORTS")
  if(NOT arg_DIRECTORY OR NOT arg_SOURCES)
    message(FATAL_ERROR "wendlow_add_plugin(${target}): SOURCES and DIRECTORY are required")
  endif()
  if(NOT arg_OUTPUT_NAME)
    set(arg_OUTPUT_NAME ${target})
  endif()
  if(NOT arg_EXPORTS)
    set(arg_EXPORTS PluginMain)
  endif()

  list(JOIN arg_EXPORTS "; " globals)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports.map)
  file(CONFIGURE OUTPUT ${map} CONTENT "{\n  global: ${globals};\n  local: *;\n};\n")

  add_library(${target} MODULE ${arg_SOURCES})
  target_link_libraries(${target} PRIVATE hostapi)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${arg_OUTPUT_NAME} PREFIX "" SUFFIX ".so"
    LIBRARY_OUTPUT_DIRECTORY ${arg_DIRECTORY}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${map})
  target_link_options(${target} PRIVATE -Wl,--version-script=${map} -Wl,-z,defs)
  wendlow_warnings(${target})
  if(arg_RESOURCES)
    configure_file(${arg_RESOURCES} ${arg_DIRECTORY}/${arg_OUTPUT_NAME}.resources.json COPYONLY)
  endif()
endfunction()
