# nimbo_qml_module(<target> <URI> [QML_FILES ...] [SOURCES ...] [LIBS ...] [PLUGIN_SOURCE file])
# One static library per subsystem that is also a QML module. Its files live under
# the engine's default import path, so `import <URI>` finds them with no set-up.
function(nimbo_qml_module target uri)
  cmake_parse_arguments(ARG "" "PLUGIN_SOURCE" "QML_FILES;SOURCES;LIBS" ${ARGN})
  qt_add_library(${target} STATIC)
  set(files)
  if(ARG_QML_FILES)
    list(APPEND files QML_FILES ${ARG_QML_FILES})
  endif()
  if(ARG_SOURCES)
    list(APPEND files SOURCES ${ARG_SOURCES})
  endif()
  if(ARG_PLUGIN_SOURCE)  # a plugin class of the module's own (named <URI with _>Plugin)
    list(APPEND files NO_GENERATE_PLUGIN_SOURCE)
  endif()
  string(REPLACE "." "/" module_path "${uri}")
  qt_add_qml_module(${target}
    URI ${uri}
    OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/qml/${module_path}
    VERSION 1.0
    RESOURCE_PREFIX /qt-project.org/imports
    ${files}
  )
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_LIBS})
  if(ARG_PLUGIN_SOURCE)
    target_sources(${target}plugin PRIVATE ${ARG_PLUGIN_SOURCE})
  endif()
endfunction()
