# image_gen_header_pack(<name> INPUT <raw image>
#                       MODE <image_copy|image_compress|flash_remapping>
#                       [OUTPUT <path>] [VERIFY] [MAX_SIZE <size>])
#
# Adds a target <name>, built with `all`, that packs the raw image into
# OUTPUT, by default ${CMAKE_CURRENT_BINARY_DIR}/<name>.ota.bin (a relative
# OUTPUT is taken from the current binary directory). It packs straight from
# INPUT with image_gen_header -o, so nothing is written beside the input, and
# packs again when the input or the tool changes. With VERIFY, ota_info
# checks the result (with --max-size when MAX_SIZE is given: bytes, 0x
# hexadecimal, with an optional K, KiB, M, MiB, G or GiB suffix, all binary);
# a problem fails the build with ota_info's report and removes the OTA file,
# so the next build packs it again. MODE and MAX_SIZE are checked here, when
# CMake configures.
function(image_gen_header_pack name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "VERIFY" "INPUT;MODE;OUTPUT;MAX_SIZE" "")
  set(where "image_gen_header_pack(${name})")
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${where}: unexpected arguments: ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT ARG_INPUT)
    message(FATAL_ERROR "${where}: INPUT <raw image> is required")
  endif()
  if(NOT ARG_MODE MATCHES "^(image_copy|image_compress|flash_remapping)$")
    message(FATAL_ERROR "${where}: MODE '${ARG_MODE}' is not image_copy, image_compress or flash_remapping")
  endif()
  if(DEFINED ARG_MAX_SIZE)
    if(NOT ARG_VERIFY)
      message(FATAL_ERROR "${where}: MAX_SIZE is checked by VERIFY; add VERIFY")
    endif()
    if(NOT ARG_MAX_SIZE MATCHES "^(0[xX][0-9a-fA-F]+|[0-9]+) ?(K|KiB|M|MiB|G|GiB)?$")
      message(FATAL_ERROR "${where}: MAX_SIZE '${ARG_MAX_SIZE}' is not a size: bytes or 0x hexadecimal, "
                          "with an optional K, KiB, M, MiB, G or GiB suffix")
    endif()
  endif()
  if(NOT ARG_OUTPUT)
    set(ARG_OUTPUT "${name}.ota.bin")
  endif()

  cmake_path(ABSOLUTE_PATH ARG_INPUT BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" OUTPUT_VARIABLE input)
  cmake_path(ABSOLUTE_PATH ARG_OUTPUT BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" OUTPUT_VARIABLE output)
  cmake_path(GET output PARENT_PATH output_dir)
  cmake_path(GET output FILENAME output_name)
  set(commands
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${output_dir}"
    COMMAND ImageGenHeader::image_gen_header -o "${output}" -- "${input}" "${ARG_MODE}")
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
    COMMENT "Packing ${output_name} (${ARG_MODE})"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS "${output}")
endfunction()
