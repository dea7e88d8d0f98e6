# vmm_add_library(<name> [DEPS libs...])
# One library per subsystem folder; every .cpp/.h of the folder is part of it.
# Static, but shared with VMM_SHARED_LIBS (see CMakeLists.txt).
function(vmm_add_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  if(VMM_SHARED_LIBS)
    add_library(${name} SHARED ${_src})
  else()
    add_library(${name} STATIC ${_src})
  endif()
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
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
