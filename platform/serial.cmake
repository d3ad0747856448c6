# The serial port and the COM-port table that stand in for the Windows serial calls.
add_library(tarnlow_platform_serial STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/serial_port.cpp ${CMAKE_CURRENT_SOURCE_DIR}/serial_port.h
  ${CMAKE_CURRENT_SOURCE_DIR}/com_port_table.cpp ${CMAKE_CURRENT_SOURCE_DIR}/com_port_table.h)
target_link_libraries(tarnlow_platform_serial PUBLIC tarnlow_core)
