# The `msi` target packages the bundle for Windows Installer as
# ${CMAKE_BINARY_DIR}/package/VarnVPN-<version>-x64-stand-ins.msi: this
# build's bundle holds the stand-in libraries, which the package's names say.
# Only the cross build makes it, where wixl is at hand; `make package` makes
# the same from any bundle folder. The package takes its version from the
# exe's version resource, which is the project's version.
if(CMAKE_CROSSCOMPILING)
  # make_msi.py reads the PE files with Debian's pefile.
  find_program(VARN_DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH
               REQUIRED)
  find_program(VARN_WIXL wixl REQUIRED)
  set(package_file ${CMAKE_BINARY_DIR}/package/VarnVPN-${PROJECT_VERSION})
  string(APPEND package_file -x64-stand-ins.msi)
  file(GLOB_RECURSE bundle_data_files ${bundle_template}/data/*)
  # The custom-action library's stripped copy (package_action/).
  set(package_actions ${CMAKE_BINARY_DIR}/package_actions/varn_vpn_actions.dll)
  add_custom_command(
    OUTPUT ${package_file}
    COMMAND ${VARN_DEBIAN_PYTHON}
            ${PROJECT_SOURCE_DIR}/tools/package/make_msi.py
            --bundle ${bundle_dir} --output-dir ${CMAKE_BINARY_DIR}/package
            --actions ${package_actions} --wixl ${VARN_WIXL} --stand-ins
    DEPENDS varn_vpn varn_vpn_actions ${bundle_libraries} ${bundle_data_files}
            ${PROJECT_SOURCE_DIR}/tools/package/make_msi.py
            ${PROJECT_SOURCE_DIR}/tools/package/varn_vpn.wxs
            ${PROJECT_SOURCE_DIR}/tools/make_icon.py
    COMMENT "Packaging ${bundle_dir}"
    VERBATIM)
  add_custom_target(msi ALL DEPENDS ${package_file})
  # The files are packaged from the laid-out bundle.
  add_dependencies(msi bundle)
endif()
