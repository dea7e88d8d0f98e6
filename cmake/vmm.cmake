# vmm_add_library(<name> [DEPS libs...])
# One library per subsystem folder; every .cpp/.h of the folder is part of it.
# It is static, and <name>_static names the same library. With VMM_SHARED_LIBS
# the sources are compiled once and linked twice: <name> is shared, for the
# test executables; <name>_static is static, for the program and the camera
# plug-ins, which are copied and started elsewhere (an update package's dry
# start runs them as another user) and so must not need this build folder.
# The target that compiles the sources is left in VMM_LIB_OBJECTS.
function(vmm_add_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  if(NOT VMM_SHARED_LIBS)
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    add_library(${name}_static ALIAS ${name})
    set(VMM_LIB_OBJECTS ${name} PARENT_SCOPE)
    return()
  endif()
  add_library(${name}_objects OBJECT ${_src})
  target_include_directories(${name}_objects PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name}_objects PUBLIC ${ARG_DEPS})
  set(_static_deps)
  foreach(_d ${ARG_DEPS})
    if(TARGET ${_d}_objects)
      list(APPEND _static_deps ${_d}_static)
    else()
      list(APPEND _static_deps ${_d})
    endif()
  endforeach()
  add_library(${name} SHARED $<TARGET_OBJECTS:${name}_objects>)
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  add_library(${name}_static STATIC $<TARGET_OBJECTS:${name}_objects>)
  target_include_directories(${name}_static PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name}_static PUBLIC ${_static_deps})
  set(VMM_LIB_OBJECTS ${name}_objects PARENT_SCOPE)
endfunction()

# vmm_glob_tests(LIBS libs...)
# Each tst_*.cpp in the calling folder becomes one Qt Test executable registered
# with CTest. Tests run in their own build folder with the offscreen platform.
function(vmm_glob_tests)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  file(GLOB _support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support_*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/support_*.h)
  get_filename_component(_group ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  foreach(_t ${_tests})
    get_filename_component(_n ${_t} NAME_WE)
    set(_target ${_group}_${_n})
    add_executable(${_target} ${_t} ${_support})
    target_link_libraries(${_target} PRIVATE ${ARG_LIBS} Qt5::Test)
    target_include_directories(${_target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests/common)
    add_test(NAME ${_target} COMMAND ${_target})
    set_tests_properties(${_target} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=0:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1;VMM_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
      TIMEOUT 600)
  endforeach()
endfunction()
