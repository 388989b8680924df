# The Debian package's dependency on libcrypto. The tools load libcrypto
# (sys/sha256_posix.cpp) rather than link it, so the package's library scan
# cannot see it; this reckons the dependency the way the scan would for a
# linked library: from the symbols file of the package that holds it, the
# lowest version that has every call the tools load. A symbol's version is
# when it first appeared, not what this host or sysroot happens to have, so
# the dependency is the same on every architecture and mirror state
# (libssl3 (>= 3.0.0) on Debian 12). A cross build reads its sysroot's
# symbols files (OTA_SYSROOT/DEBIAN); a native one asks dpkg for the
# package's.
# Usage: libcrypto_depends(OUT SONAME FILE): OUT is empty if nothing tells.
function(libcrypto_depends out soname file)
  set(${out} "" PARENT_SCOPE)
  set(calls EVP_MD_CTX_new EVP_MD_CTX_free EVP_sha256 EVP_DigestInit_ex EVP_DigestUpdate EVP_DigestFinal_ex)
  set(symbols)
  if(OTA_SYSROOT)
    set(symbols ${OTA_SYSROOT}/DEBIAN/symbols)
  else()
    find_program(DPKG_QUERY dpkg-query)
    if(NOT DPKG_QUERY)
      return()
    endif()
    execute_process(COMMAND ${DPKG_QUERY} --search "${file}" OUTPUT_VARIABLE owner RESULT_VARIABLE status ERROR_QUIET)
    if(status EQUAL 0 AND owner MATCHES "^([^ ,]+):")
      execute_process(COMMAND ${DPKG_QUERY} --control-path ${CMAKE_MATCH_1} symbols
                      OUTPUT_VARIABLE symbols OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
  endif()
  if(NOT EXISTS "${symbols}")
    message(WARNING "no symbols file names ${file}: the .deb will not depend on libcrypto")
    return()
  endif()
  # A library's section starts "SONAME PACKAGE #MINVER#"; its symbols follow,
  # one a line: " NAME@VERSION-NODE FIRST-VERSION".
  list(JOIN calls "|" alternatives)
  file(STRINGS ${symbols} lines REGEX "^[^ *|]|^ (${alternatives})@")
  set(package)
  set(minimum)
  set(found 0)
  set(inside FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^([^ ]+) ([^ ]+)")
      set(inside FALSE)
      if(CMAKE_MATCH_1 STREQUAL soname)
        set(inside TRUE)
        set(package ${CMAKE_MATCH_2})
      endif()
    elseif(inside AND line MATCHES "^ [^ ]+ ([^ ]+)")
      math(EXPR found "${found} + 1")
      if(NOT minimum OR CMAKE_MATCH_1 VERSION_GREATER minimum)
        set(minimum ${CMAKE_MATCH_1})
      endif()
    endif()
  endforeach()
  list(LENGTH calls wanted)
  if(NOT found EQUAL wanted)
    message(WARNING "${symbols} lacks calls the tools load from ${soname}: the .deb will not depend on libcrypto")
    return()
  endif()
  set(${out} "${package} (>= ${minimum})" PARENT_SCOPE)
endfunction()
