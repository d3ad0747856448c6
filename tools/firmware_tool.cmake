# tarnlow-fw makes and inspects firmware files; the build also uses it to lay out the four
# firmware folders beside the program, each with its README.txt and a sample firmware file.
add_executable(tarnlow-fw
  ${CMAKE_CURRENT_SOURCE_DIR}/tarnlow_fw/main.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tarnlow_fw/firmware_commands.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tarnlow_fw/firmware_commands.h)
target_link_libraries(tarnlow-fw PRIVATE tarnlow_firmware Qt5::Core)

set(folders_source ${CMAKE_CURRENT_SOURCE_DIR}/firmware_folders)
set(samples_source ${CMAKE_CURRENT_SOURCE_DIR}/samples)
set(bin ${CMAKE_BINARY_DIR}/bin)
set(sample_outputs)

foreach(folder "Coupler Firmware" "Module Firmware" "COP Firmware" "ECAT Firmware")
  add_custom_command(OUTPUT "${bin}/${folder}/README.txt"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${bin}/${folder}"
    COMMAND ${CMAKE_COMMAND} -E copy "${folders_source}/${folder}/README.txt" "${bin}/${folder}/README.txt"
    DEPENDS "${folders_source}/${folder}/README.txt" VERBATIM)
  list(APPEND sample_outputs "${bin}/${folder}/README.txt")
endforeach()

# tarnlow_encrypt_sample(<folder> <output name> <plaintext> <header>)
function(tarnlow_encrypt_sample folder name plaintext header)
  set(out "${bin}/${folder}/${name}")
  add_custom_command(OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${bin}/${folder}"
    COMMAND tarnlow-fw encrypt "${samples_source}/${plaintext}" "${out}" --header "${header}"
    DEPENDS tarnlow-fw "${samples_source}/${plaintext}" VERBATIM)
  set(sample_outputs ${sample_outputs} "${out}" PARENT_SCOPE)
endfunction()

tarnlow_encrypt_sample("Coupler Firmware" ETN_Coupler_Demo.HEX etn_coupler_demo.hex "0702, V1, X=TRUE")
tarnlow_encrypt_sample("Module Firmware" IO_Module_Demo.HEX io_module_demo.hex "0A31, V1, X=TRUE")
tarnlow_encrypt_sample("COP Firmware" COP_Coupler_Demo.HEX cop_coupler_demo.hex "FFFF, V1, X=TRUE")

add_custom_command(OUTPUT "${bin}/ECAT Firmware/ECAT_Coupler_Demo.BIN"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${bin}/ECAT Firmware"
  COMMAND ${CMAKE_COMMAND} -E copy "${samples_source}/ecat_coupler_demo.bin" "${bin}/ECAT Firmware/ECAT_Coupler_Demo.BIN"
  DEPENDS "${samples_source}/ecat_coupler_demo.bin" VERBATIM)
list(APPEND sample_outputs "${bin}/ECAT Firmware/ECAT_Coupler_Demo.BIN")

add_custom_target(firmware_folders ALL DEPENDS ${sample_outputs})
