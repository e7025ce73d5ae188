# Run by cpack once it has made the packages (CPACK_POST_BUILD_SCRIPTS):
# each .deb gets an Installed-Size worked out from its contents rather than
# from the build folder's file system (deb_installed_size.py).
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.deb$")
    execute_process(COMMAND python3 "${CMAKE_CURRENT_LIST_DIR}/deb_installed_size.py" "${package}"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "deb_installed_size.py failed on ${package}")
    endif()
  endif()
endforeach()
