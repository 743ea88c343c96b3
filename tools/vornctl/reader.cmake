# The one device reader and the controls every program shares (view, serve):
# POSIX builds with nlohmann-json (Debian's nlohmann-json3-dev).
if(NOT WIN32)
  find_package(nlohmann_json 3 QUIET)
endif()
if(WIN32 OR NOT nlohmann_json_FOUND)
  set(VORN_HAVE_READER OFF CACHE INTERNAL "vornctl has the device reader")
  return()
endif()
set(VORN_HAVE_READER ON CACHE INTERNAL "vornctl has the device reader")
find_package(Threads REQUIRED)
add_library(vornctl_reader STATIC
  device_reader.cpp
  view_controls.cpp
  view_json.cpp)
target_link_libraries(vornctl_reader PUBLIC vornctl_core nlohmann_json::nlohmann_json Threads::Threads)
vorn_warnings(vornctl_reader)
