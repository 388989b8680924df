# Build step of image_gen_header_pack(... VERIFY): runs ota_info on a freshly
# packed OTA file and fails the build unless it is valid. Only when ota_info
# finds a problem in the file (exit status 1) is the file removed, so that the
# next build packs it again rather than taking it as up to date; a file that
# could not be checked (exit status 2) is left as it is.
# With MAX_SIZE, the listing's slot line (how full the slot is) is printed
# whether the file fits or not.
# Takes -DOTA_INFO=<ota_info> -DOTA_FILE=<file> [-DMAX_SIZE=<size>].
set(arguments "${OTA_FILE}")
if(NOT "${MAX_SIZE}" STREQUAL "")
  list(PREPEND arguments "--max-size=${MAX_SIZE}")
endif()
execute_process(
  COMMAND "${OTA_INFO}" ${arguments}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE report
  ERROR_VARIABLE diagnostics)
if(status EQUAL 1)
  file(REMOVE "${OTA_FILE}")
  message(NOTICE "${report}${diagnostics}")
  message(FATAL_ERROR "ota_info rejected ${OTA_FILE} (its problems are listed above); the file was removed.")
elseif(NOT status EQUAL 0)
  message(NOTICE "${report}${diagnostics}")
  message(FATAL_ERROR "ota_info could not check ${OTA_FILE} (exit status ${status}).")
elseif(report MATCHES "\nslot: +([^\n]*)")
  message(STATUS "${OTA_FILE}: slot ${CMAKE_MATCH_1}")
endif()
