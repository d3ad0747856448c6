# The datagram calls that stand in for the Windows socket library.
add_library(tarnlow_platform_sockets STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/datagram_socket.cpp ${CMAKE_CURRENT_SOURCE_DIR}/datagram_socket.h)
target_include_directories(tarnlow_platform_sockets PUBLIC ${CMAKE_SOURCE_DIR})
