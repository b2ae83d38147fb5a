# The pkg-config file. Its paths are relative to the file's own folder (${pcfiledir}), so an
# installation can be moved, and are worked out from the library directory whatever its depth
# (lib, lib64, Debian's lib/x86_64-linux-gnu); absolute directories are written as they are.
#
#   kd_write_pkgconfig(<output file> <libdir> <includedir> <prefix>)
#
# <libdir> and <includedir> as CMAKE_INSTALL_LIBDIR and CMAKE_INSTALL_INCLUDEDIR give them
# (relative to <prefix>, or absolute). Usable in script mode (cmake -P) as well.
set(KD_PKGCONFIG_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/kdtrace.pc.in)

function(kd_write_pkgconfig output libdir includedir prefix)
  if(IS_ABSOLUTE "${libdir}")
    set(KD_PC_PREFIX "${prefix}")
    set(KD_PC_LIBDIR "${libdir}")
  else()
    # The way up from <prefix>/<libdir>/pkgconfig to <prefix>.
    file(RELATIVE_PATH up "/kd-prefix/${libdir}/pkgconfig" "/kd-prefix")
    string(REGEX REPLACE "/$" "" up "${up}")
    set(KD_PC_PREFIX "\${pcfiledir}/${up}")
    set(KD_PC_LIBDIR "\${prefix}/${libdir}")
  endif()
  if(IS_ABSOLUTE "${includedir}")
    set(KD_PC_INCLUDEDIR "${includedir}")
  else()
    set(KD_PC_INCLUDEDIR "\${prefix}/${includedir}")
  endif()
  configure_file(${KD_PKGCONFIG_TEMPLATE} ${output} @ONLY)
endfunction()
