# Build step of image_gen_header_pack(... VERIFY): runs ota_info on a freshly
# packed OTA file and fails the build unless it is valid. A file ota_info
# finds a problem in (exit status 1) or could not check (any other status)
# is removed, so that the next build packs and checks it again rather than
# taking an unchecked file as up to date.
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
  file(REMOVE "${OTA_FILE}")
  message(NOTICE "${report}${diagnostics}")
  message(FATAL_ERROR "ota_info could not check ${OTA_FILE} (exit status ${status}); the file was removed.")
elseif(report MATCHES "\nslot: +([^\n]*)")
  message(STATUS "${OTA_FILE}: slot ${CMAKE_MATCH_1}")
endif()
