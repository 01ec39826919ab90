# Small helpers so that every folder declares itself in a few lines.

# quillon_library(<target> DEPS <targets...>)
# A static library from every .cpp in the calling folder; the folder's parent
# is on the include path, so code includes "jlib/jvariant.h", "scp/scp_element.h".
function(quillon_library target)
  cmake_parse_arguments(ARG "" "" "DEPS;SYSTEM" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  get_filename_component(parent ${CMAKE_CURRENT_SOURCE_DIR} DIRECTORY)
  if(sources)
    add_library(${target} STATIC ${sources})
    set(scope PUBLIC)
  else()
    # Header-only so far.
    add_library(${target} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${target} ${scope} ${parent} ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} ${scope} ${ARG_DEPS} ${ARG_SYSTEM} Threads::Threads)
endfunction()

# quillon_test(<name> LIBS <targets...> [LABELS <labels...>] [TIMEOUT s] [GUI])
# One GoogleTest program from every test_*.cpp in the calling folder.
# GUI programs run under a QApplication (quillon_test_gui's main) and carry
# the label "gui", which the sanitizer runs skip.
function(quillon_test name)
  cmake_parse_arguments(ARG "GUI" "TIMEOUT" "LIBS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  if(NOT sources)
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  # Discovered tests take one label word (a list would be split into
  # property names on the way), so several labels are joined with '-';
  # `ctest -L` matches by regular expression, so -L threads still finds
  # a "netns-threads" program.
  set(main GTest::gtest_main)
  if(ARG_GUI)
    list(APPEND ARG_LABELS gui)
    set(main quillon_test_gui)
  endif()
  string(JOIN "-" labels ${ARG_LABELS})
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quillon_test_support ${main} GTest::gmock)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${labels}")
endfunction()
