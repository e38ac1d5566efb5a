# A build of this project for the machine the build runs on, beside a WASI build: what WASI
# cannot do itself (start programs, for the end-to-end harness) or what it is held to (the
# Linux program, for the page's tests). It lives in ${CMAKE_BINARY_DIR}/host.
#
#   add_host_build(TARGETS target... [CMAKE_ARGS arg...] [DEPENDS target...])
include(ExternalProject)
set(ORBITCSV_HOST_BUILD ${CMAKE_BINARY_DIR}/host)

function(add_host_build)
  cmake_parse_arguments(PARSE_ARGV 0 host "" "" "TARGETS;CMAKE_ARGS;DEPENDS")
  ExternalProject_Add(host_build
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${ORBITCSV_HOST_BUILD}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DORBITCSV_WERROR=ON ${host_CMAKE_ARGS}
    # A make of its own, not the outer make's child: without the outer make's job slots it would
    # warn that it runs one job at a time.
    BUILD_COMMAND ${CMAKE_COMMAND} -E env --unset=MFLAGS MAKEFLAGS=--no-print-directory
      ${CMAKE_COMMAND} --build ${ORBITCSV_HOST_BUILD} --target ${host_TARGETS} --parallel 2
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    DEPENDS ${host_DEPENDS})
endfunction()
