# Installing on Linux: the command-line host and its module, its manual page,
# completion and notes, and the Debian package CPack makes of the same.
# Only what is named here installs: the test suite, GoogleTest, the
# benchmarks, the fuzz targets and the filter's layer libraries have no
# install rules (GoogleTest's own are switched off in tests/).

# Fixed rather than the platform's libdir (lib/x86_64-linux-gnu under /usr):
# kivrel looks for the module in ../lib/kivrel from its own folder.
set(KIVREL_MODULE_DESTINATION lib/kivrel)

install(TARGETS kivrel_cli RUNTIME DESTINATION bin)
install(TARGETS kivrel LIBRARY DESTINATION ${KIVREL_MODULE_DESTINATION})
# The page with this version in its header.
configure_file(${PROJECT_SOURCE_DIR}/docs/kivrel.1 ${PROJECT_BINARY_DIR}/docs/kivrel.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/docs/kivrel.1 DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/cli/kivrel.bash DESTINATION share/bash-completion/completions
        RENAME kivrel)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/copyright
        DESTINATION share/doc/kivrel)
# The pages the README links, under docs/ as in the sources, so that its
# links hold in the installed copy too.
install(FILES ${PROJECT_SOURCE_DIR}/docs/usage.md ${PROJECT_SOURCE_DIR}/docs/archives.md
              ${PROJECT_SOURCE_DIR}/docs/kivrel-report.slurm ${PROJECT_SOURCE_DIR}/docs/bad-input.md
              ${PROJECT_SOURCE_DIR}/docs/performance.md ${PROJECT_SOURCE_DIR}/docs/development.md
              ${PROJECT_SOURCE_DIR}/docs/handwritten.md
        DESTINATION share/doc/kivrel/docs)

# The frei0r filter as kivrel.so where Debian's FFmpeg, melt and GStreamer
# look by default: /usr/lib/frei0r-1 (not the multiarch libdir, which none
# of them searches), with no folder of its own. Its Kdenlive effect goes to
# Kdenlive's effects folder.
if(TARGET kivrel_frei0r_module)
  install(FILES $<TARGET_FILE:kivrel_frei0r_module> DESTINATION lib/frei0r-1 RENAME kivrel.so)
  install(FILES ${PROJECT_SOURCE_DIR}/src/frei0r/frei0r_kivrel.xml DESTINATION share/kdenlive/effects)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/frei0r.md DESTINATION share/doc/kivrel/docs)
endif()

# cpack -G DEB in the build folder: kivrel_<version>_amd64.deb, installed
# under /usr. dpkg-shlibdeps (dpkg-dev) finds the library packages the two
# programs need, FFmpeg's among them, for the Depends line.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kivrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kivrel developers <kivrel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "broadcast scopes for video files: waveform, vectorscope, histograms")
set(CPACK_PACKAGE_DESCRIPTION
    "kivrel puts Kivrel's broadcast displays on pictures and video: the video view,
the hot pixel scan, level histograms, the waveform monitor and the vectorscope.
It runs the Kivrel filter module as a plug-in host does over anything FFmpeg's
libraries read, and writes pictures, video or frame hashes.")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so the package's library scan cannot see it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "${KIVREL_AVDEVICE_PACKAGE}")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ffmpeg, bash-completion, melt, gstreamer1.0-plugins-bad")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
