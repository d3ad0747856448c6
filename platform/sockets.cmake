# The datagram calls that stand in for the Windows socket library.
add_library(tarnlow_platform_sockets STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/datagram_socket.cpp ${CMAKE_CURRENT_SOURCE_DIR}/datagram_socket.h)
target_link_libraries(tarnlow_platform_sockets PUBLIC tarnlow_core)
