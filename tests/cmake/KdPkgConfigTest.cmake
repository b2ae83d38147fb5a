# The pkg-config file names the installation's folders for every kind of library folder.
#   cmake -DKD_SOURCE_DIR=<source> -DKD_WORK_DIR=<scratch folder> -P KdPkgConfigTest.cmake
include(${KD_SOURCE_DIR}/cmake/KdPkgConfig.cmake)
set(PROJECT_VERSION 4.0.0.1)
set(PROJECT_VERSION_MAJOR 4)
find_program(PKG_CONFIG pkg-config REQUIRED)
set(prefix ${KD_WORK_DIR}/pkgconfig-prefix)

# (library folder, include folder, where both must resolve to)
foreach(row "lib;include;${prefix}/lib;${prefix}/include"
            "lib64;include;${prefix}/lib64;${prefix}/include"
            "lib/x86_64-linux-gnu;include;${prefix}/lib/x86_64-linux-gnu;${prefix}/include"
            "${prefix}/abs/lib;${prefix}/abs/include;${prefix}/abs/lib;${prefix}/abs/include")
  list(GET row 0 libdir)
  list(GET row 1 includedir)
  list(GET row 2 expected_lib)
  list(GET row 3 expected_include)
  file(REMOVE_RECURSE ${prefix})
  file(MAKE_DIRECTORY ${expected_lib}/pkgconfig ${expected_include})
  kd_write_pkgconfig(${expected_lib}/pkgconfig/kdtrace.pc "${libdir}" "${includedir}" "${prefix}")
  foreach(pair "includedir;${expected_include}" "libdir;${expected_lib}")
    list(GET pair 0 variable)
    list(GET pair 1 expected)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${expected_lib}/pkgconfig
                            ${PKG_CONFIG} --variable=${variable} kdtrace
                    OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
    if(failed OR NOT IS_DIRECTORY "${value}")
      message(FATAL_ERROR "library folder ${libdir}: ${variable} is '${value}', not a folder")
    endif()
    file(REAL_PATH "${value}" resolved)
    file(REAL_PATH "${expected}" wanted)
    if(NOT resolved STREQUAL wanted)
      message(FATAL_ERROR "library folder ${libdir}: ${variable} is ${resolved}, not ${wanted}")
    endif()
  endforeach()
endforeach()
file(REMOVE_RECURSE ${prefix})
