# Build step of image_gen_header_pack(... VERIFY): runs ota_info on a freshly
# packed OTA file. On a problem it removes the file, so that the next build
# packs it again rather than taking it as up to date, and fails the build
# with ota_info's own report.
# Takes -DOTA_INFO=<ota_info> -DOTA_FILE=<file> [-DMAX_SIZE=<bytes>].
set(arguments "${OTA_FILE}")
if(NOT "${MAX_SIZE}" STREQUAL "")
  list(PREPEND arguments --max-size "${MAX_SIZE}")
endif()
execute_process(
  COMMAND "${OTA_INFO}" ${arguments}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE report
  ERROR_VARIABLE diagnostics)
if(NOT status EQUAL 0)
  file(REMOVE "${OTA_FILE}")
  message(NOTICE "${report}${diagnostics}")
  message(FATAL_ERROR "ota_info rejected ${OTA_FILE} (its problems are listed above); the file was removed.")
endif()
