# image_gen_header_pack(<name> INPUT <raw image>
#                       MODE <image_copy|image_compress|flash_remapping>
#                       [OUTPUT <path>] [DEPENDS <target or file>...]
#                       [VERIFY] [MAX_SIZE <size>])
#
# Adds a target <name>, built with `all`, that packs the raw image into
# OUTPUT, by default ${CMAKE_CURRENT_BINARY_DIR}/<name>.ota.bin (a relative
# OUTPUT is taken from the current binary directory). It packs straight from
# INPUT with image_gen_header -o, so nothing is written beside the input, and
# packs again when the input or the tool changes. DEPENDS names the targets
# or files that make INPUT, so that they are built first; an INPUT made by a
# POST_BUILD command should also be that command's BYPRODUCTS, so that Ninja
# knows where it comes from. With VERIFY, ota_info checks the result (with
# --max-size when MAX_SIZE is given: bytes, 0x hexadecimal, with an optional
# K, KiB, M, MiB, G or GiB suffix, all binary); a problem fails the build with
# ota_info's report and removes the OTA file, so the next build packs it
# again. What can never build stops CMake when it configures, naming the
# argument: a MODE or MAX_SIZE the tools refuse, an OUTPUT that is INPUT, and
# an INPUT or OUTPUT that holds a ';' or a '$'.
function(image_gen_header_pack name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "VERIFY" "INPUT;MODE;OUTPUT;MAX_SIZE" "DEPENDS")
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
    _image_gen_header_check_size("${where}" "${ARG_MAX_SIZE}")
  endif()
  if(NOT ARG_OUTPUT)
    set(ARG_OUTPUT "${name}.ota.bin")
  endif()
  foreach(argument INPUT OUTPUT)
    # A ';' would split the path into a list; a '$' would be expanded by
    # one generator and refused by another (make reads $(X), Ninja fails
    # on it), or start a generator expression, so another file would be
    # built than the one named.
    if(ARG_${argument} MATCHES "[;$]")
      message(FATAL_ERROR "${where}: ${argument} '${ARG_${argument}}' holds a ';' or a '$'; "
                          "give it a plain path")
    endif()
  endforeach()

  cmake_path(ABSOLUTE_PATH ARG_INPUT BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE OUTPUT_VARIABLE input)
  cmake_path(ABSOLUTE_PATH ARG_OUTPUT BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" NORMALIZE OUTPUT_VARIABLE output)
  file(REAL_PATH "${input}" real_input)
  file(REAL_PATH "${output}" real_output)
  if(real_input STREQUAL real_output)
    message(FATAL_ERROR "${where}: OUTPUT '${ARG_OUTPUT}' is INPUT '${ARG_INPUT}'; the OTA file needs a name of its own")
  endif()
  cmake_path(GET output PARENT_PATH output_dir)
  cmake_path(GET output FILENAME output_name)
  set(commands
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${output_dir}"
    COMMAND ImageGenHeader::image_gen_header -o "${output}" -- "${input}" "${ARG_MODE}")
  set(depends "${input}" ${ARG_DEPENDS} ImageGenHeader::image_gen_header "$<TARGET_FILE:ImageGenHeader::image_gen_header>")
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

# Stops CMake unless SIZE is one that ota_info --max-size takes: bytes or 0x
# hexadecimal, an optional binary suffix after at most one blank, and at most
# 2^64 - 1 bytes. The bound is checked on the digits, as CMake's own
# arithmetic stops at 2^63.
function(_image_gen_header_check_size where size)
  set(not_a_size "${where}: MAX_SIZE '${size}' is not a size")
  if(NOT size MATCHES "^(0[xX]([0-9a-fA-F]+)|([0-9]+))( ?(K|KiB|M|MiB|G|GiB))?$")
    message(FATAL_ERROR "${not_a_size}: bytes or 0x hexadecimal, with an optional K, KiB, M, MiB, G or GiB suffix")
  endif()
  set(hex_digits "${CMAKE_MATCH_2}")
  set(decimal_digits "${CMAKE_MATCH_3}")
  set(suffix "${CMAKE_MATCH_5}")
  # The largest count before the suffix multiplies it, in each base.
  if(suffix MATCHES "^K")
    set(limits 18014398509481983 3FFFFFFFFFFFFF)
  elseif(suffix MATCHES "^M")
    set(limits 17592186044415 FFFFFFFFFFF)
  elseif(suffix MATCHES "^G")
    set(limits 17179869183 3FFFFFFFF)
  else()
    set(limits 18446744073709551615 FFFFFFFFFFFFFFFF)
  endif()
  if(hex_digits STREQUAL "")
    set(digits "${decimal_digits}")
    list(GET limits 0 limit)
  else()
    string(TOUPPER "${hex_digits}" digits)
    list(GET limits 1 limit)
  endif()
  string(REGEX REPLACE "^0+(.)" "\\1" digits "${digits}")
  string(LENGTH "${digits}" length)
  string(LENGTH "${limit}" limit_length)
  if(length GREATER limit_length OR (length EQUAL limit_length AND digits STRGREATER limit))
    message(FATAL_ERROR "${not_a_size}: more than 2^64 - 1 bytes")
  endif()
endfunction()
