# image_gen_header_pack(<name> INPUT <raw image>
#                       MODE <image_copy|image_compress|flash_remapping>
#                       [VERIFY] [MAX_SIZE <bytes>])
#
# Adds a target <name>, built with `all`, that packs the raw image into
# ${CMAKE_CURRENT_BINARY_DIR}/<name>.ota.bin. The image is first copied to
# <name>.bin in the binary directory, so nothing is written beside the input
# (the source tree stays clean). The file is packed again when the input or
# the tool changes. With VERIFY, ota_info checks the result (with --max-size
# when MAX_SIZE is given, in bytes or with a KiB or MiB suffix); a problem
# fails the build with ota_info's report and leaves no OTA file behind.
function(image_gen_header_pack name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "VERIFY" "INPUT;MODE;MAX_SIZE" "")
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "image_gen_header_pack(${name}): unexpected arguments: ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT ARG_INPUT)
    message(FATAL_ERROR "image_gen_header_pack(${name}): INPUT <raw image> is required")
  endif()
  if(NOT ARG_MODE MATCHES "^(image_copy|image_compress|flash_remapping)$")
    message(FATAL_ERROR "image_gen_header_pack(${name}): MODE must be image_copy, image_compress or flash_remapping")
  endif()
  if(DEFINED ARG_MAX_SIZE AND NOT ARG_VERIFY)
    message(FATAL_ERROR "image_gen_header_pack(${name}): MAX_SIZE is checked by VERIFY; add VERIFY")
  endif()

  cmake_path(ABSOLUTE_PATH ARG_INPUT BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" OUTPUT_VARIABLE input)
  set(output "${CMAKE_CURRENT_BINARY_DIR}/${name}.ota.bin")
  set(commands
    COMMAND "${CMAKE_COMMAND}" -E copy "${input}" "${name}.bin"
    COMMAND ImageGenHeader::image_gen_header "${name}.bin" "${ARG_MODE}")
  set(depends "${input}" ImageGenHeader::image_gen_header "$<TARGET_FILE:ImageGenHeader::image_gen_header>")
  if(ARG_VERIFY)
    list(APPEND commands
      COMMAND "${CMAKE_COMMAND}" "-DOTA_INFO=$<TARGET_FILE:ImageGenHeader::ota_info>" "-DOTA_FILE=${output}"
              "-DMAX_SIZE=${ARG_MAX_SIZE}" -P "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/ImageGenHeaderVerify.cmake")
    list(APPEND depends ImageGenHeader::ota_info "$<TARGET_FILE:ImageGenHeader::ota_info>")
  endif()
  add_custom_command(
    OUTPUT "${output}"
    ${commands}
    DEPENDS ${depends}
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    COMMENT "Packing ${name}.ota.bin (${ARG_MODE})"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS "${output}")
endfunction()
