# nimbo_qml_module(<target> <URI> [QML_FILES ...] [SOURCES ...] [LIBS ...])
# One static library per subsystem that is also a QML module. Its files live under
# the engine's default import path, so `import <URI>` finds them with no set-up.
function(nimbo_qml_module target uri)
  cmake_parse_arguments(ARG "" "" "QML_FILES;SOURCES;LIBS" ${ARGN})
  qt_add_library(${target} STATIC)
  set(files)
  if(ARG_QML_FILES)
    list(APPEND files QML_FILES ${ARG_QML_FILES})
  endif()
  if(ARG_SOURCES)
    list(APPEND files SOURCES ${ARG_SOURCES})
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
endfunction()
