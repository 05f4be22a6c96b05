# Installing the component: the static libraries of every layer it needs,
# its public headers, the vavizar command, the loadable module, a CMake
# package (find_package(Vantrel_VaviZar) gives Vantrel_VaviZar::page) and a
# pkg-config file (vantrel-vavizar).

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VZ_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/vavizar)
set(VZ_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Vantrel_VaviZar)

# The one target a host links: the component and everything below it.
add_library(vz_page INTERFACE)
set_target_properties(vz_page PROPERTIES EXPORT_NAME page)
target_link_libraries(vz_page INTERFACE vz_component)
target_include_directories(vz_page INTERFACE $<INSTALL_INTERFACE:${VZ_INSTALL_INCLUDEDIR}>)
target_compile_features(vz_page INTERFACE cxx_std_20)
add_library(Vantrel_VaviZar::page ALIAS vz_page)

# In link order: each library before those it uses.
set(VZ_INSTALLED_LIBRARIES vz_component vz_store vz_generate vz_execute vz_platform)
install(TARGETS vz_page ${VZ_INSTALLED_LIBRARIES}
        EXPORT Vantrel_VaviZarTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT Vantrel_VaviZarTargets
        NAMESPACE Vantrel_VaviZar::
        DESTINATION ${VZ_INSTALL_CMAKEDIR})

# The headers a host includes, PagePtr and the connection opener, and every
# header they include in turn; with them the failure a call raises and the
# code page of the template files. The class Page itself (component/page.h)
# stays inside: a host reaches it through PagePtr and the _Page interface.
# cmake/package_test.sh checks that each compiles on its own from the
# installed tree.
set(VZ_PUBLIC_HEADERS
  component/page_interface.h
  component/page_ptr.h
  generate/origins.h
  platform/ado/connection.h
  platform/ado/open.h
  platform/com/bstr.h
  platform/com/ref.h
  platform/com/types.h
  platform/com/unknown.h
  platform/failure.h
  platform/fso/code_page.h
  platform/text.h
)
foreach(header ${VZ_PUBLIC_HEADERS})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${VZ_INSTALL_INCLUDEDIR}/${folder})
endforeach()

install(TARGETS vavizar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS Vantrel_VaviZar LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/vavizar)

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/Vantrel_VaviZarConfig.cmake.in
  ${PROJECT_BINARY_DIR}/Vantrel_VaviZarConfig.cmake
  INSTALL_DESTINATION ${VZ_INSTALL_CMAKEDIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/Vantrel_VaviZarConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/Vantrel_VaviZarConfig.cmake
              ${PROJECT_BINARY_DIR}/Vantrel_VaviZarConfigVersion.cmake
        DESTINATION ${VZ_INSTALL_CMAKEDIR})

# pkg-config: static libraries, so their own dependencies go on Libs too.
# The prefix is found from the file's own place, so the tree can be moved.
file(RELATIVE_PATH VZ_PC_PREFIX_FROM_PCDIR
     /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
set(VZ_PC_LIBS "")
foreach(lib ${VZ_INSTALLED_LIBRARIES})
  string(APPEND VZ_PC_LIBS " -l${lib}")
endforeach()
string(APPEND VZ_PC_LIBS " -lsqlite3 -lodbc")
find_package(Iconv REQUIRED)
if(NOT Iconv_IS_BUILT_IN)
  string(APPEND VZ_PC_LIBS " -liconv")
endif()
foreach(lib ${CMAKE_DL_LIBS})
  string(APPEND VZ_PC_LIBS " -l${lib}")
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/vantrel-vavizar.pc.in
               ${PROJECT_BINARY_DIR}/vantrel-vavizar.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vantrel-vavizar.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
