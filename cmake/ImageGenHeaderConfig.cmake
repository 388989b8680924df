# The installed image_gen_header: the imported executables
# ImageGenHeader::image_gen_header and ImageGenHeader::ota_info, and the
# function image_gen_header_pack() that packs a raw image as a build step.
include("${CMAKE_CURRENT_LIST_DIR}/ImageGenHeaderTargets.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/ImageGenHeaderPack.cmake")
