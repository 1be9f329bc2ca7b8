# The `bundle` target lays the application out as it ships, in
# ${CMAKE_BINARY_DIR}/bundle: the exe with the engine, plug-in and tunnel
# libraries beside it (our stand-ins here; the real ones when shipping) and
# the data folder the engine loads. The compiled UI is not built here, so the
# data files are placeholders.
set(bundle_dir ${CMAKE_BINARY_DIR}/bundle)
set(bundle_template ${CMAKE_BINARY_DIR}/bundle_template)
file(WRITE ${bundle_template}/data/flutter_assets/AssetManifest.json "{}\n")
file(WRITE ${bundle_template}/data/icudtl.dat
     "placeholder: the engine's Unicode data\n")
file(WRITE ${bundle_template}/data/app.so
     "placeholder: the compiled UI library\n")

# Included at the end of the top-level directory, once every stand-in
# target exists.
set(bundle_libraries flutter_windows_standin tunnel_standin
    app_links_plugin_standin share_plus_plugin_standin
    url_launcher_windows_plugin_standin wireguard_flutter_plugin_standin)
foreach(library ${bundle_libraries})
  if(NOT TARGET ${library})
    message(STATUS "bundle: ${library} is not defined yet; left out")
    list(REMOVE_ITEM bundle_libraries ${library})
  endif()
endforeach()

# The libraries go in without their symbols, as shipped ones come; the
# test programs use the copies in bin/, which keep them.
set(copy_library ${CMAKE_COMMAND} -E copy_if_different)
if(NOT MSVC)
  set(copy_library ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
      ${CMAKE_OBJCOPY} --strip-all)
endif()
set(bundle_copies "")
foreach(library ${bundle_libraries})
  list(APPEND bundle_copies COMMAND ${copy_library} $<TARGET_FILE:${library}>
       ${bundle_dir}/$<TARGET_FILE_NAME:${library}>)
endforeach()

add_custom_target(bundle ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${bundle_dir}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:varn_vpn>
          ${bundle_dir}/
  ${bundle_copies}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${bundle_template}/data
          ${bundle_dir}/data
  COMMENT "Laying out ${bundle_dir}"
  VERBATIM)
add_dependencies(bundle varn_vpn ${bundle_libraries})

include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)
