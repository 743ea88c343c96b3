# `vornctl serve` and `vornctl keygen`: the stream over ZeroMQ (Debian's
# libzmq3-dev and cppzmq-dev), POSIX builds with the device reader only. The
# key files are the subscribers' too (subscribe.cmake).
if(NOT VORN_HAVE_READER OR NOT VORN_HAVE_SUBSCRIBE)
  message(STATUS "vornctl: libzmq or cppzmq not found (or a Windows build), 'serve' and 'keygen' left out")
  set(VORN_HAVE_NET OFF CACHE INTERNAL "vornctl has serve and keygen")
  return()
endif()
set(VORN_HAVE_NET ON CACHE INTERNAL "vornctl has serve and keygen")

add_library(vornctl_net STATIC
  device_publisher.cpp
  net_endpoint.cpp
  publish_queue.cpp
  publisher.cpp
  serve_command.cpp
  serve_controls.cpp
  zap_handler.cpp)
target_link_libraries(vornctl_net PUBLIC vornctl_reader vornctl_subscribe)
vorn_warnings(vornctl_net)
target_link_libraries(vornctl PRIVATE vornctl_net)
target_compile_definitions(vornctl PRIVATE VORN_HAVE_NET=1)
