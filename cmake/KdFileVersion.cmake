# Version notes: each shared library of ours carries its file version in an ELF note that the
# module's version check reads from the file without running any of the library's code.
#
#   kd_set_file_version(target 4.0.0.1)          the note holds "FileVersion=4.0.0.1"
#   kd_add_version_note(target "A=1;B=2")        any "key=value" entries (a CMake list)
set(KD_VERSION_NOTE_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version_note.c.in)

function(kd_add_version_note target entries)
  list(JOIN entries "\\0" KD_VERSION_BLOCK_TEXT)
  set(KD_VERSION_TARGET ${target})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_note.c)
  configure_file(${KD_VERSION_NOTE_TEMPLATE} ${out} @ONLY)
  target_sources(${target} PRIVATE ${out})
endfunction()

function(kd_set_file_version target version)
  kd_add_version_note(${target} "FileVersion=${version}")
endfunction()
