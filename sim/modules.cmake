# The I/O modules behind the simulated Ethernet coupler, served through its Modbus extension.
find_package(Threads REQUIRED)
add_library(tarnlow_sim_modules STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/modbus_extension.h
  ${CMAKE_CURRENT_SOURCE_DIR}/module_bank.cpp ${CMAKE_CURRENT_SOURCE_DIR}/module_bank.h
  ${CMAKE_CURRENT_SOURCE_DIR}/module_simulated_boot_loader.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/module_simulated_boot_loader.h
  ${CMAKE_CURRENT_SOURCE_DIR}/module_bank_server.cpp ${CMAKE_CURRENT_SOURCE_DIR}/module_bank_server.h)
target_include_directories(tarnlow_sim_modules PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tarnlow_sim_modules PUBLIC Threads::Threads)

# A program for trying the module page by hand: modules behind a coupler on 127.0.0.x:502.
add_executable(tarnlow-sim-modules ${CMAKE_CURRENT_SOURCE_DIR}/module_sim_main.cpp)
target_link_libraries(tarnlow-sim-modules PRIVATE tarnlow_sim_modules)
