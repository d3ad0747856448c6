# The simulated Ethernet coupler: UDP boot loader, Modbus TCP server, and the module bank behind it.
find_package(Threads REQUIRED)
add_library(tarnlow_sim_coupler STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/coupler_boot_loader.cpp ${CMAKE_CURRENT_SOURCE_DIR}/coupler_boot_loader.h
  ${CMAKE_CURRENT_SOURCE_DIR}/coupler_udp_server.cpp ${CMAKE_CURRENT_SOURCE_DIR}/coupler_udp_server.h
  ${CMAKE_CURRENT_SOURCE_DIR}/coupler_modbus_server.cpp ${CMAKE_CURRENT_SOURCE_DIR}/coupler_modbus_server.h
  ${CMAKE_CURRENT_SOURCE_DIR}/simulated_coupler.cpp ${CMAKE_CURRENT_SOURCE_DIR}/simulated_coupler.h
  ${CMAKE_CURRENT_SOURCE_DIR}/modbus_extension.h)
target_include_directories(tarnlow_sim_coupler PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tarnlow_sim_coupler PUBLIC tarnlow_modbus_tcp Threads::Threads PkgConfig::MODBUS Qt5::Core)
