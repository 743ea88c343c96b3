# `vornctl view`: the page server over Boost.Beast (header-only, Debian's
# libboost-dev), POSIX builds only. One thread serves every connection, so a
# slow or silent client holds no thread, and each request is read within
# bounds set here (view_limits.h); Beast never unpacks a compressed body.
if(VORN_HAVE_READER)
  find_package(Boost 1.74 QUIET)
endif()
if(NOT Boost_FOUND OR NOT VORN_HAVE_READER)
  message(STATUS "vornctl: Boost (Beast) or nlohmann-json not found (or a Windows build), 'view' left out")
  set(VORN_HAVE_VIEW OFF CACHE INTERNAL "vornctl has view")
  return()
endif()
set(VORN_HAVE_VIEW ON CACHE INTERNAL "vornctl has view")

add_library(vornctl_view STATIC
  view_command.cpp
  view_connection.cpp
  view_events.cpp
  view_http_rules.cpp
  view_open.cpp
  view_server.cpp
  view_urls.cpp)
target_link_libraries(vornctl_view PUBLIC vornctl_reader)
target_include_directories(vornctl_view SYSTEM PUBLIC ${Boost_INCLUDE_DIRS})
vorn_warnings(vornctl_view)
set(VORN_VIEW_WEB_DIR ${CMAKE_CURRENT_BINARY_DIR}/web)
target_compile_definitions(vornctl_view PRIVATE VORN_VIEW_WEB_DIR="${VORN_VIEW_WEB_DIR}")
target_link_libraries(vornctl PRIVATE vornctl_view)
target_compile_definitions(vornctl PRIVATE VORN_HAVE_VIEW=1)
# A publisher's devices on the page (--from), where the subscribers are built.
if(TARGET vornctl_subscribe)
  target_sources(vornctl_view PRIVATE view_remote.cpp)
  target_link_libraries(vornctl_view PUBLIC vornctl_subscribe)
  target_compile_definitions(vornctl_view PRIVATE VORN_VIEW_REMOTE=1)
endif()

# The page and uPlot (from the npm registry, installed by scripts/bootstrap)
# are served from the build: no network when the page runs.
set(VORN_UPLOT_DIST ${CMAKE_CURRENT_SOURCE_DIR}/web/node_modules/uplot/dist)
add_custom_target(vornctl_view_page ALL
  COMMAND ${CMAKE_COMMAND} -DWEB_DIR=${CMAKE_CURRENT_SOURCE_DIR}/web -DUPLOT_DIST=${VORN_UPLOT_DIST}
          -DOUT=${VORN_VIEW_WEB_DIR} -P ${CMAKE_CURRENT_SOURCE_DIR}/web/copy_page.cmake
  COMMENT "vornctl view: the page and uPlot into ${VORN_VIEW_WEB_DIR}"
  VERBATIM)
add_dependencies(vornctl vornctl_view_page)
install(DIRECTORY ${VORN_VIEW_WEB_DIR}/ DESTINATION ${VORN_DIST_DIR}/linux/share/vornctl/web OPTIONAL)
