# The CANopen coupler on a pseudo-terminal: a library for the tests and benchmark, and a program
# for trying the page by hand (the demo starts it).
find_package(Threads REQUIRED)
add_library(tarnlow_sim_canopen STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/canopen_simulated_coupler.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/canopen_simulated_coupler.h
  ${CMAKE_CURRENT_SOURCE_DIR}/canopen_pty_server.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/canopen_pty_server.h)
target_include_directories(tarnlow_sim_canopen PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tarnlow_sim_canopen PUBLIC tarnlow_core Threads::Threads)

add_executable(tarnlow-sim-canopen ${CMAKE_CURRENT_SOURCE_DIR}/canopen_main.cpp)
target_link_libraries(tarnlow-sim-canopen PRIVATE tarnlow_sim_canopen)
