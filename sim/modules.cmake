# The I/O modules behind the simulated Ethernet coupler, served through its Modbus extension.
add_library(tarnlow_sim_modules STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/modbus_extension.h
  ${CMAKE_CURRENT_SOURCE_DIR}/module_bank.cpp ${CMAKE_CURRENT_SOURCE_DIR}/module_bank.h
  ${CMAKE_CURRENT_SOURCE_DIR}/module_simulated_boot_loader.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/module_simulated_boot_loader.h)
