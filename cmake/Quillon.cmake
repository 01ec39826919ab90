# Small helpers so that every folder declares itself in a few lines.

# quillon_library(<target> [ROOMS <subfolders...>] DEPS <targets...>)
# A static library from every .cpp in the calling folder (and in its ROOMS,
# subfolders that belong to the same target). Only the repository root is on
# the include path, so code includes "pbd/jlib/jvariant.h", "scp/scp_element.h".
function(quillon_library target)
  cmake_parse_arguments(ARG "" "" "ROOMS;DEPS;SYSTEM" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(room IN LISTS ARG_ROOMS)
    file(GLOB room_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${room}/*.cpp)
    list(APPEND sources ${room_sources})
  endforeach()
  if(sources)
    add_library(${target} STATIC ${sources})
    set(scope PUBLIC)
  else()
    # Header-only so far.
    add_library(${target} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${target} ${scope} ${PROJECT_SOURCE_DIR})
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
  # The sanitizer runs never execute GUI programs (Qt is not built for them),
  # so those builds do not spend time compiling them.
  if(ARG_GUI AND QUILLON_SANITIZE)
    return()
  endif()
  if(ARG_GUI)
    list(APPEND ARG_LABELS gui)
    set(main quillon_test_gui)
  endif()
  string(JOIN "-" labels ${ARG_LABELS})
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quillon_test_support ${main} GTest::gmock)
  # The sanitizer runs build only the test programs (quillon_tests), and the
  # thread-sanitizer run only these (quillon_thread_tests).
  set_property(GLOBAL APPEND PROPERTY QUILLON_TEST_PROGRAMS ${name})
  if("threads" IN_LIST ARG_LABELS)
    set_property(GLOBAL APPEND PROPERTY QUILLON_THREAD_TESTS ${name})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${labels}")
endfunction()

# quillon_target_links(<target> <out-var>)
# The targets and libraries <target> links directly, for its own build and
# for its users, without duplicates and with $<LINK_ONLY:...> unwrapped.
function(quillon_target_links target out)
  get_target_property(type ${target} TYPE)
  set(links "")
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    get_target_property(direct ${target} LINK_LIBRARIES)
    if(direct)
      list(APPEND links ${direct})
    endif()
  endif()
  get_target_property(usage ${target} INTERFACE_LINK_LIBRARIES)
  if(usage)
    list(APPEND links ${usage})
  endif()
  list(TRANSFORM links REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1")
  list(REMOVE_DUPLICATES links)
  set(${out} ${links} PARENT_SCOPE)
endfunction()

# quillon_check_layers(DIRS <folders, lowest layer first> [ALLOW <from>:<to> ...])
# Fails the configuration when a library target links a target of a folder
# that comes later in DIRS, or a folder's source includes a file of one,
# listing every such link and include. Called once all folders are added, so
# targets defined later are seen too.
function(quillon_check_layers)
  cmake_parse_arguments(ARG "" "" "DIRS;ALLOW" ${ARGN})
  set(index 0)
  set(known "")
  foreach(dir IN LISTS ARG_DIRS)
    if(EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      get_property(targets DIRECTORY ${PROJECT_SOURCE_DIR}/${dir} PROPERTY BUILDSYSTEM_TARGETS)
      foreach(target IN LISTS targets)
        set(layer_${target} ${index})
        set(folder_${target} ${dir})
        list(APPEND known ${target})
      endforeach()
    endif()
    math(EXPR index "${index} + 1")
  endforeach()

  set(violations "")
  foreach(target IN LISTS known)
    quillon_target_links(${target} links)
    foreach(link IN LISTS links)
      if(DEFINED layer_${link} AND layer_${link} GREATER layer_${target}
         AND NOT "${target}:${link}" IN_LIST ARG_ALLOW)
        list(APPEND violations
          "  ${target} (${folder_${target}}) links ${link} (${folder_${link}})")
      endif()
    endforeach()
  endforeach()

  # Includes: a header-only include of a higher folder links nothing, so the
  # sources are read too (with those of the folder's rooms, subfolders without
  # a target of their own). An include is looked up as the compiler would,
  # from the including file's folder, then the root, and belongs to the
  # longest folder of DIRS that holds it.
  set(index 0)
  foreach(dir IN LISTS ARG_DIRS)
    set(dir_layer_${dir} ${index})
    math(EXPR index "${index} + 1")
  endforeach()
  foreach(dir IN LISTS ARG_DIRS)
    set(base ${PROJECT_SOURCE_DIR}/${dir})
    if(NOT EXISTS ${base}/CMakeLists.txt)
      continue()
    endif()
    file(GLOB files ${base}/*.h ${base}/*.cpp)
    file(GLOB subfolders LIST_DIRECTORIES true ${base}/*)
    foreach(sub IN LISTS subfolders)
      if(IS_DIRECTORY ${sub} AND NOT EXISTS ${sub}/CMakeLists.txt)
        file(GLOB room_files ${sub}/*.h ${sub}/*.cpp)
        list(APPEND files ${room_files})
      endif()
    endforeach()
    foreach(file IN LISTS files)
      get_filename_component(here ${file} DIRECTORY)
      file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
      foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*$" "\\1" inc "${line}")
        set(found "")
        foreach(root IN ITEMS ${here} ${PROJECT_SOURCE_DIR})
          if(NOT found AND EXISTS ${root}/${inc})
            get_filename_component(found ${root}/${inc} ABSOLUTE)
          endif()
        endforeach()
        if(NOT found)
          continue()
        endif()
        file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${found})
        get_filename_component(owner ${rel} DIRECTORY)
        while(owner AND NOT DEFINED dir_layer_${owner})
          get_filename_component(owner ${owner} DIRECTORY)
        endwhile()
        if(owner AND dir_layer_${owner} GREATER dir_layer_${dir}
           AND NOT "${dir}:${owner}" IN_LIST ARG_ALLOW)
          file(RELATIVE_PATH from ${PROJECT_SOURCE_DIR} ${file})
          list(APPEND violations "  ${from} includes ${rel} (${owner})")
        endif()
      endforeach()
    endforeach()
  endforeach()

  if(violations)
    list(JOIN violations "\n" text)
    message(FATAL_ERROR "Links or includes that point up the layer order:\n${text}\n"
      "A folder may only link or include folders listed before it in QUILLON_LIBRARY_DIRS.")
  endif()
endfunction()

# Precompiled headers (QUILLON_PCH): a few shared headers, each compiled once
# per build and reused by every target that fits it. The compiler refuses a
# header built with other -fPIC/-fPIE settings or other macros from the
# command line, so targets fall into families: libraries or programs, with
# or without Qt (lower layers use names such as `slots` that Qt's keywords
# would take), with or without GoogleTest. The project has C++ sources only;
# a C file would need a header list of its own.
set(QUILLON_PCH_STD
  <algorithm> <array> <atomic> <chrono> <condition_variable> <cstddef> <cstdint>
  <cstdio> <cstdlib> <cstring> <deque> <functional> <map> <memory> <mutex> <new>
  <set> <sstream> <string> <thread> <utility> <vector>)
# No QtTest header: those change with the QT_*_LIB macros, which differ
# between targets.
set(QUILLON_PCH_QT
  <QAction> <QApplication> <QByteArray> <QCoreApplication> <QDialog> <QDialogButtonBox>
  <QDir> <QElapsedTimer> <QFile> <QFileInfo> <QLabel> <QLineEdit> <QList> <QMap>
  <QMenu> <QMessageBox> <QMouseEvent> <QObject> <QPainter> <QPixmap> <QPointer>
  <QPushButton> <QString> <QStringList> <QThread> <QTimer> <QVBoxLayout> <QWidget>)
set(QUILLON_PCH_GTEST <gtest/gtest.h> <gmock/gmock.h>)

# True in <out> when <target> links a target matching <regex>, directly or
# through other targets of the project.
function(quillon_links_any target regex out)
  set(seen "")
  set(queue ${target})
  set(result FALSE)
  while(queue)
    list(POP_FRONT queue t)
    if(t IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${t})
    if(t MATCHES "${regex}")
      set(result TRUE)
      break()
    endif()
    if(NOT TARGET ${t})
      continue()
    endif()
    get_target_property(imported ${t} IMPORTED)
    if(imported)
      continue()
    endif()
    quillon_target_links(${t} links)
    list(APPEND queue ${links})
  endwhile()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# Makes the donor target <name> of one family (kind lib or exe, qt and gtest
# TRUE or FALSE). Qt comes in through its folders and QT_NO_DEBUG only: the
# QT_*_LIB macros differ between targets and the headers above never read
# them.
function(quillon_pch_donor name kind qt gtest)
  set(anchor ${PROJECT_BINARY_DIR}/quillon_pch_anchor.cpp)
  if(NOT EXISTS ${anchor})
    file(WRITE ${anchor} "int main() { return 0; }\n")
  endif()
  if(kind STREQUAL "lib")
    add_library(${name} STATIC ${anchor})
  else()
    add_executable(${name} ${anchor})
  endif()
  set_target_properties(${name} PROPERTIES AUTOMOC OFF AUTORCC OFF EXCLUDE_FROM_ALL ON)
  set(headers ${QUILLON_PCH_STD})
  if(qt)
    list(APPEND headers ${QUILLON_PCH_QT})
    foreach(module Core Gui Widgets Network)
      target_include_directories(${name} SYSTEM PRIVATE
        $<TARGET_PROPERTY:Qt5::${module},INTERFACE_INCLUDE_DIRECTORIES>)
    endforeach()
    target_compile_definitions(${name} PRIVATE $<$<NOT:$<CONFIG:Debug>>:QT_NO_DEBUG>)
    target_compile_options(${name} PRIVATE $<TARGET_PROPERTY:Qt5::Core,INTERFACE_COMPILE_OPTIONS>)
    # Its program links QtCore's file alone, for the version tag the headers
    # reference, and so takes none of its macros.
    if(kind STREQUAL "exe")
      target_link_libraries(${name} PRIVATE $<TARGET_FILE:Qt5::Core>)
    endif()
  endif()
  if(gtest)
    list(APPEND headers ${QUILLON_PCH_GTEST})
    target_link_libraries(${name} PRIVATE GTest::gmock GTest::gtest)
  endif()
  target_precompile_headers(${name} PRIVATE ${headers})
endfunction()

# Gives every C++ library and program under <dir> the shared header of its
# family, making the donor on first use.
function(quillon_apply_pch dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    if(t MATCHES "^quillon_pch_")
      continue()
    endif()
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "EXECUTABLE")
      set(kind exe)
    elseif(type MATCHES "^(STATIC|SHARED|MODULE|OBJECT)_LIBRARY$")
      set(kind lib)
    else()
      continue()
    endif()
    get_target_property(own ${t} PRECOMPILE_HEADERS)
    get_target_property(reused ${t} PRECOMPILE_HEADERS_REUSE_FROM)
    get_target_property(off ${t} DISABLE_PRECOMPILE_HEADERS)
    if(own OR reused OR off)
      continue()
    endif()
    quillon_links_any(${t} "^Qt5::" qt)
    quillon_links_any(${t} "^GTest::" gtest)
    set(donor quillon_pch_${kind})
    if(qt)
      string(APPEND donor _qt)
    endif()
    if(gtest)
      string(APPEND donor _gtest)
    endif()
    if(NOT TARGET ${donor})
      quillon_pch_donor(${donor} ${kind} "${qt}" "${gtest}")
    endif()
    target_precompile_headers(${t} REUSE_FROM ${donor})
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    quillon_apply_pch(${sub})
  endforeach()
endfunction()
