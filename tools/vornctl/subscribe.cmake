# The subscribers of a publisher's stream (`record --from`, and `view
# --from` where the view is built) over ZeroMQ: Debian's libzmq3-dev with
# cppzmq-dev, POSIX builds only. Without them vornctl says so when asked.
if(NOT WIN32)
  pkg_check_modules(ZMQ QUIET IMPORTED_TARGET libzmq>=4.3)
  find_path(VORN_CPPZMQ_INCLUDE zmq.hpp)
  find_package(nlohmann_json 3 QUIET)
endif()
if(WIN32 OR NOT ZMQ_FOUND OR NOT VORN_CPPZMQ_INCLUDE OR NOT nlohmann_json_FOUND)
  message(STATUS "vornctl: libzmq, cppzmq or nlohmann-json not found (or a Windows build): "
                 "'record --from' and 'view --from' left out")
  set(VORN_HAVE_SUBSCRIBE OFF CACHE INTERNAL "vornctl has record --from")
  return()
endif()
set(VORN_HAVE_SUBSCRIBE ON CACHE INTERNAL "vornctl has record --from")

add_library(vornctl_subscribe STATIC
  curve_keys.cpp
  publisher_address.cpp
  record_from.cpp
  remote_recording.cpp
  stream_meta.cpp
  subscription.cpp)
target_link_libraries(vornctl_subscribe PUBLIC vornctl_core vorn_wire nlohmann_json::nlohmann_json PkgConfig::ZMQ)
target_include_directories(vornctl_subscribe SYSTEM PUBLIC ${VORN_CPPZMQ_INCLUDE})
vorn_warnings(vornctl_subscribe)
target_link_libraries(vornctl PRIVATE vornctl_subscribe)
target_compile_definitions(vornctl PRIVATE VORN_HAVE_SUBSCRIBE=1)
