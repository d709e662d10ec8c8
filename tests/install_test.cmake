# Checks what users of the package get. Run by ctest as
#   cmake -DMODE=consumer|package -DCONFIG=... -DSETUP=install_test_setup.cmake -P install_test.cmake
# consumer: installs the build into a temporary prefix, builds the installed
#   consumer example against it with find_package and with pkg-config, and
#   runs both on the installed examples.
# package: makes the release build of the "package" preset, the .deb and the
#   .tar.gz with cpack, and checks their file lists, that the programs and
#   the library carry no debug information, the .deb's control fields,
#   lintian's verdict, the postinst's user and the systemd units.
# A missing command skips what needs it, saying "SKIPPED:" (ctest then
# counts the test as skipped).
cmake_policy(VERSION 3.25)
include(${SETUP})

execute_process(COMMAND mktemp -d RESULT_VARIABLE rc OUTPUT_VARIABLE tmp OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "mktemp -d failed")
endif()

function(fail text)
  file(REMOVE_RECURSE ${tmp})
  message(FATAL_ERROR "${text}")
endfunction()

# Runs a command in the temporary directory (no resource file of the
# caller's directory is read); fails on a non-zero status. Leaves its
# standard output in `out`, its standard error in `err`.
function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${tmp} RESULT_VARIABLE rc
                  OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT rc EQUAL 0)
    fail("${ARGN}\nended with ${rc}:\n${output}${errors}")
  endif()
  set(out "${output}" PARENT_SCOPE)
  set(err "${errors}" PARENT_SCOPE)
endfunction()

function(expect_equal what expected actual)
  if(NOT expected STREQUAL actual)
    fail("${what}: expected\n${expected}\ngot\n${actual}")
  endif()
endfunction()

set(skipped "")

if(MODE STREQUAL "consumer")
  set(prefix ${tmp}/prefix)
  set(examples ${prefix}/${DOCDIR}/examples)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --config "${CONFIG}" --prefix ${prefix})
  file(MAKE_DIRECTORY ${tmp}/hdr)
  run(${prefix}/${BINDIR}/header_tool -ba -pf over -fp ${examples} -rp ${examples}/raw -cp ${tmp}/hdr
      2026120818.raw)
  # The series of two files from the indexed one on.
  set(listing "${examples}/raw/2026120818.raw: header file ${tmp}/hdr/2026120818.hdr
${examples}/raw/2026120819.raw: no header file
2 data files, 1 with header files
")
  set(series -ba -nh 1 -fp ${examples} -rp ${examples}/raw -cp ${tmp}/hdr 2026120818.raw)
  # The products from KWBC in the indexed file.
  set(products "${examples}/raw/2026120818.raw 213-1568 SAUS70 KWBC 051400 / METAR
${examples}/raw/2026120818.raw 1569-3215 SAUS70 KWBC 081400 / METAR
${examples}/raw/2026120818.raw 14212-15041 SMVD22 KWBC 110044 / BOYCM7
")
  set(chosen -ba -pr KWBC -fp ${examples} -rp ${examples}/raw -cp ${tmp}/hdr 2026120818.raw)

  run(${CMAKE_COMMAND} -S ${examples}/consumer -B ${tmp}/build -G ${GENERATOR}
      -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix})
  run(${CMAKE_COMMAND} --build ${tmp}/build)
  run(${tmp}/build/kiv_series ${series})
  expect_equal("kiv_series built with find_package" "${listing}" "${out}")
  run(${tmp}/build/kiv_products ${chosen})
  expect_equal("kiv_products built with find_package" "${products}" "${out}")

  find_program(PKG_CONFIG pkg-config)
  if(PKG_CONFIG)
    run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/${LIBDIR}/pkgconfig ${PKG_CONFIG} --cflags --libs kiv)
    separate_arguments(flags UNIX_COMMAND "${out}")
    run(${CXX} -o ${tmp}/kiv_series ${examples}/consumer/kiv_series.cc ${flags})
    run(${tmp}/kiv_series ${series})
    expect_equal("kiv_series built with pkg-config" "${listing}" "${out}")
    run(${CXX} -o ${tmp}/kiv_products ${examples}/consumer/kiv_products.cc ${flags})
    run(${tmp}/kiv_products ${chosen})
    expect_equal("kiv_products built with pkg-config" "${products}" "${out}")
  else()
    string(APPEND skipped " pkg-config not found, the build with it not tried;")
  endif()

elseif(MODE STREQUAL "package")
  find_program(DPKG_DEB dpkg-deb)
  if(NOT DPKG_DEB)
    file(REMOVE_RECURSE ${tmp})
    message("SKIPPED: dpkg-deb not found, no package made")
    return()
  endif()
  # The packages are made from a release build under /usr, never from the
  # build under test.
  set(build ${tmp}/build)
  run(${CMAKE_COMMAND} --preset package -S ${SOURCE_DIR} -B ${build} -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX})
  run(${CMAKE_COMMAND} --build ${build} --parallel 2)
  load_cache(${build} READ_WITH_PREFIX "" CMAKE_INSTALL_LIBDIR)
  set(LIBDIR ${CMAKE_INSTALL_LIBDIR})

  # Every file the packages hold, relative to the prefix.
  set(cmake_dir ${LIBDIR}/cmake/kiv)
  set(expected ${LIBDIR}/libkiv.a ${LIBDIR}/pkgconfig/kiv.pc ${cmake_dir}/kivConfig.cmake
      ${cmake_dir}/kivConfigVersion.cmake ${cmake_dir}/kivTargets.cmake
      ${cmake_dir}/kivTargets-release.cmake ${DOCDIR}/README.md
      ${DOCDIR}/copyright ${DOCDIR}/changelog.Debian.gz share/lintian/overrides/${PACKAGE}
      lib/systemd/system/header_tool@.service lib/systemd/system/header_tool@.timer
      lib/sysusers.d/${PACKAGE}.conf)
  foreach(program ${PROGRAMS})
    list(APPEND expected ${BINDIR}/${program})
    if(EXISTS ${SOURCE_DIR}/${program}.1)
      list(APPEND expected ${MANDIR}/man1/${program}.1.gz)
    endif()
  endforeach()
  foreach(header ${HEADERS})
    get_filename_component(header ${header} NAME)
    list(APPEND expected ${INCLUDEDIR}/kiv/${header})
  endforeach()
  file(GLOB_RECURSE docs RELATIVE ${SOURCE_DIR}/examples ${SOURCE_DIR}/examples/*)
  list(TRANSFORM docs PREPEND ${DOCDIR}/examples/)
  list(APPEND expected ${docs})
  list(SORT expected)

  run(cpack --config ${build}/CPackConfig.cmake -B ${tmp})
  file(GLOB deb ${tmp}/*.deb)
  file(GLOB tgz ${tmp}/*.tar.gz)

  # Regular files only, as PERMISSIONS ./usr/PATH.
  run(${DPKG_DEB} -c ${deb})
  string(REGEX MATCHALL "(^|\n)-[^\n]*" entries "${out}")
  set(files "")
  foreach(entry ${entries})
    string(REGEX REPLACE "^\n?(-[rwx-]+) .* \\./usr/" "\\1 " entry "${entry}")
    if(entry MATCHES "^-.*/${BINDIR}/" AND NOT entry MATCHES "^-rwxr-xr-x")
      fail("not executable in the .deb: ${entry}")
    endif()
    string(REGEX REPLACE "^[^ ]+ " "" entry "${entry}")
    list(APPEND files ${entry})
  endforeach()
  list(SORT files)
  expect_equal("dpkg-deb -c" "${expected}" "${files}")

  run(${CMAKE_COMMAND} -E tar tf ${tgz})
  string(REGEX MATCHALL "[^\n]*[^/\n](\n|$)" files "${out}")
  list(TRANSFORM files REPLACE "^[^/]+/([^\n]*)\n?" "\\1")
  list(SORT files)
  expect_equal("the .tar.gz" "${expected}" "${files}")

  # Stripped: no symbol table in the programs, no debug information in them
  # or in the library.
  set(root ${tmp}/root)
  run(${DPKG_DEB} -x ${deb} ${root})
  list(TRANSFORM PROGRAMS PREPEND ${root}/usr/${BINDIR}/ OUTPUT_VARIABLE binaries)
  foreach(file ${binaries} ${root}/usr/${LIBDIR}/libkiv.a)
    run(readelf -S --wide ${file})
    if(out MATCHES "\\.debug_" OR (file IN_LIST binaries AND out MATCHES "\\.symtab"))
      fail("not stripped in the .deb: ${file}\n${out}")
    endif()
    # libcurl is loaded by the first request, never with a program: a local
    # run pays nothing for it.
    run(readelf -d --wide ${file})
    if(out MATCHES "libcurl")
      fail("${file} is linked with libcurl:\n${out}")
    endif()
  endforeach()

  run(${DPKG_DEB} -I ${deb})
  foreach(field "Package: ${PACKAGE}" "Version: ${VERSION}-1\n" "Section: utils"
                "Maintainer: [^\n]+" "Description: [^\n]+\n [^\n]+")
    if(NOT out MATCHES "\n ${field}")
      fail("dpkg-deb -I has no \"${field}\":\n${out}")
    endif()
  endforeach()
  # Nothing beyond the C and C++ runtime, libcurl that product_get loads, and
  # adduser for the postinst.
  string(REGEX MATCH "\n Depends: ([^\n]*)" depends "${out}")
  string(REGEX MATCHALL "(^|, *)[^ ,(]+" names "${CMAKE_MATCH_1}")
  list(TRANSFORM names REPLACE "^, *" "")
  set(runtime "^(libc6|libgcc-s1|libstdc\\+\\+6|libcurl4(t64)?|adduser)$")
  foreach(name ${names})
    if(NOT name MATCHES "${runtime}")
      fail("the .deb depends on ${name}:${depends}")
    endif()
  endforeach()
  if(NOT names MATCHES "libc6" OR NOT names MATCHES "libstdc")
    fail("the .deb names not its runtime:${depends}")
  endif()

  find_program(LINTIAN lintian)
  if(LINTIAN)
    run(${LINTIAN} --fail-on error,warning ${deb})
  else()
    string(APPEND skipped " lintian not found;")
  endif()

  find_program(SYSUSERS systemd-sysusers)
  if(SYSUSERS)
    # The postinst as dpkg runs it for a system under `root` (never with
    # adduser on this machine: systemd-sysusers comes first on the path).
    run(${DPKG_DEB} -e ${deb} ${tmp}/control)
    file(MAKE_DIRECTORY ${root}/etc)
    get_filename_component(dir ${SYSUSERS} DIRECTORY)
    run(${CMAKE_COMMAND} -E env DPKG_ROOT=${root} "PATH=${dir}:$ENV{PATH}" sh ${tmp}/control/postinst configure)
    file(STRINGS ${root}/etc/passwd users REGEX "^kiv:")
    if(NOT users)
      fail("the postinst made no user kiv in ${root}/etc/passwd")
    endif()
  else()
    string(APPEND skipped " systemd-sysusers not found, the postinst not run;")
  endif()

  find_program(SYSTEMD_ANALYZE systemd-analyze)
  if(SYSTEMD_ANALYZE)
    # The units as packaged, but starting the packaged program.
    file(READ ${root}/usr/lib/systemd/system/header_tool@.service service)
    string(REPLACE "=/usr/bin/" "=${root}/usr/bin/" service "${service}")
    file(WRITE ${tmp}/units/header_tool@.service "${service}")
    file(COPY ${root}/usr/lib/systemd/system/header_tool@.timer DESTINATION ${tmp}/units)
    run(${SYSTEMD_ANALYZE} verify --man=no ${tmp}/units/header_tool@feed.service ${tmp}/units/header_tool@feed.timer)
    # Unknown keys and bad values are only warned about.
    if(err MATCHES "header_tool@")
      fail("systemd-analyze verify:\n${err}")
    endif()
    run(${SYSTEMD_ANALYZE} security --offline=true --root=${root} header_tool@x.service)
    string(REGEX MATCH "Overall exposure level for [^:]*: ([0-9.]+)" line "${out}")
    if(NOT line OR CMAKE_MATCH_1 GREATER 2.0)
      fail("systemd-analyze security: exposure above 2.0:\n${out}")
    endif()
  else()
    string(APPEND skipped " systemd-analyze not found, the units not checked;")
  endif()
else()
  fail("MODE consumer or package, not \"${MODE}\"")
endif()

file(REMOVE_RECURSE ${tmp})
if(skipped)
  message("SKIPPED:${skipped} the rest passed")
endif()
