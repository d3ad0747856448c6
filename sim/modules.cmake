# The I/O modules behind the simulated Ethernet coupler, served through its Modbus extension.
add_library(tarnlow_sim_modules STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/module_bank.cpp ${CMAKE_CURRENT_SOURCE_DIR}/module_bank.h
  ${CMAKE_CURRENT_SOURCE_DIR}/module_simulated_boot_loader.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/module_simulated_boot_loader.h)
target_include_directories(tarnlow_sim_modules PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tarnlow_sim_modules PUBLIC tarnlow_sim_coupler)

# A program for trying both ETN pages by hand: a coupler with modules behind it on 127.0.0.x.
add_executable(tarnlow-sim-coupler ${CMAKE_CURRENT_SOURCE_DIR}/coupler_sim_main.cpp)
target_link_libraries(tarnlow-sim-coupler PRIVATE tarnlow_sim_modules)
