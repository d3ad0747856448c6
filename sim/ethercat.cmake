# The simulated EtherCAT coupler: a library for in-process tests and a program on a raw adapter.
add_library(tarnlow_sim_ethercat STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/ethercat_coupler.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ethercat_coupler.h
  ${CMAKE_CURRENT_SOURCE_DIR}/ethercat_sii_image.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ethercat_sii_image.h
  ${CMAKE_CURRENT_SOURCE_DIR}/ethercat_inprocess_link.h)
target_link_libraries(tarnlow_sim_ethercat PUBLIC tarnlow_ethercat)

add_executable(tarnlow-sim-ethercat ${CMAKE_CURRENT_SOURCE_DIR}/ethercat_sim_main.cpp)
target_link_libraries(tarnlow-sim-ethercat PRIVATE tarnlow_sim_ethercat)

# A veth pair in a namespace of its own with the simulator on it, for tests and benchmarks.
add_library(tarnlow_sim_ethercat_veth STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/ethercat_veth_segment.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ethercat_veth_segment.h)
add_dependencies(tarnlow_sim_ethercat_veth tarnlow-sim-ethercat)
