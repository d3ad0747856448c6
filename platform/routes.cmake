# The routing table, read to tell the plant network's adapters from the others.
add_library(tarnlow_platform_routes STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/default_route.cpp ${CMAKE_CURRENT_SOURCE_DIR}/default_route.h)
target_include_directories(tarnlow_platform_routes PUBLIC ${CMAKE_SOURCE_DIR})
