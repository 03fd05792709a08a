# Compiled-in service addresses. Each is a scheme and host[:port] with no trailing slash.
# Plain http is accepted only for loopback hosts: a session cookie and a password
# never travel in clear text beyond this machine.
set(NIMBO_PRODUCTION_API_BASE "http://127.0.0.1:8780" CACHE STRING "Production API base URL")
set(NIMBO_TEST_API_BASE "http://127.0.0.1:8781" CACHE STRING "Test API base URL (fail-over)")
set(NIMBO_WEB_BASE "http://127.0.0.1:8780" CACHE STRING "Web base URL (billing page)")
set(NIMBO_BUNDLE_ID "app.nimbo.chat" CACHE STRING "Reverse-DNS identifier of the app")

function(nimbo_check_base name)
  set(value "${${name}}")
  if(NOT value MATCHES "^(https?)://([A-Za-z0-9.-]+|\\[[0-9A-Fa-f:.]+\\])(:[0-9]+)?$")
    message(FATAL_ERROR "${name}='${value}' must be a scheme and host[:port] with no path and no trailing slash, e.g. https://api.example.com")
  endif()
  set(scheme "${CMAKE_MATCH_1}")
  set(host "${CMAKE_MATCH_2}")
  if(scheme STREQUAL "http" AND NOT (host MATCHES "^127\\.[0-9]+\\.[0-9]+\\.[0-9]+$" OR host STREQUAL "localhost" OR host STREQUAL "[::1]"))
    message(FATAL_ERROR "${name}='${value}' uses plain http for a host that is not a loopback address; use https")
  endif()
endfunction()

nimbo_check_base(NIMBO_PRODUCTION_API_BASE)
nimbo_check_base(NIMBO_TEST_API_BASE)
nimbo_check_base(NIMBO_WEB_BASE)

configure_file(${CMAKE_CURRENT_LIST_DIR}/NimboConfig.h.in ${CMAKE_BINARY_DIR}/generated/NimboConfig.h @ONLY)
add_library(nimbo_config INTERFACE)
target_include_directories(nimbo_config INTERFACE ${CMAKE_BINARY_DIR}/generated)
