# Precompiled headers for the targets where they pay, chosen by what the target links.
#
# The test files spend most of their compile time parsing the same third-party headers (the
# standard library, nlohmann-json, Qt Widgets, GoogleTest) again and again: a precompiled
# header takes a third off each. It costs something too: making it takes as long as two or three
# such files (it is one per target, since targets differ in their definitions), and loading it
# adds about half a second to a light file. So only executables (the tests, the benchmarks) of
# three files or more and the widget libraries of at least `LUMARIN_PCH_MIN_SOURCES` get one,
# made of the heavy headers their link closure can reach. The lists name single headers rather than Qt's module
# headers, which would make each precompiled header several hundred megabytes.
#
# Because a precompiled header makes its headers visible to every file of the target, the
# sources still include what they use: clang-tidy (scripts/lint.sh) runs on a configuration
# without precompiled headers, where a missing include fails.

# Off for now: with a precompiled header GCC 12 reports std::string's own copies as overflows
# (-Wstringop-overflow, -Warray-bounds) in several files at -O2, false positives of that release.
option(LUMARIN_PCH "Precompile the standard library, JSON, Qt and test headers per target" OFF)
set(LUMARIN_PCH_MIN_SOURCES 6 CACHE STRING "The fewest C++ files a target needs for a precompiled header")

set(_lumarin_pch_std
  <algorithm> <array> <atomic> <chrono> <cstdint> <cstdio> <cstdlib> <cstring> <filesystem>
  <fstream> <functional> <map> <memory> <mutex> <optional> <set> <sstream> <string>
  <string_view> <thread> <unordered_map> <utility> <variant> <vector>
  <nlohmann/json.hpp>)
set(_lumarin_pch_core <QByteArray> <QString> <QStringList> <QVariant> <QObject> <QPointer>)
set(_lumarin_pch_gui <QColor> <QFont> <QFontMetricsF> <QGuiApplication> <QImage> <QPainter>
  <QPainterPath>)
set(_lumarin_pch_widgets <QAbstractButton> <QApplication> <QBoxLayout> <QKeyEvent> <QLabel>
  <QMenu> <QMouseEvent> <QWidget>)
set(_lumarin_pch_gtest <gtest/gtest.h>)
set(_lumarin_pch_gmock <gmock/gmock.h>)
set(_lumarin_pch_qttest <QTest>)

# Whether `target`'s link closure holds `wanted` (a target name such as Qt6::Widgets).
function(_lumarin_links target wanted result)
  set(seen "")
  set(queue ${target})
  set(found FALSE)
  while(queue AND NOT found)
    list(POP_FRONT queue current)
    if(current IN_LIST seen OR NOT TARGET ${current})
      continue()
    endif()
    list(APPEND seen ${current})
    get_target_property(aliased ${current} ALIASED_TARGET)
    if(aliased)
      list(APPEND queue ${aliased})
    endif()
    set(links "")
    get_target_property(type ${current} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${current} LINK_LIBRARIES)
      if(direct)
        list(APPEND links ${direct})
      endif()
    endif()
    get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
    if(interface)
      list(APPEND links ${interface})
    endif()
    foreach(link IN LISTS links)
      # Only plain target names: generator expressions and flags are not followed.
      if(link MATCHES "^[A-Za-z0-9_:.+-]+$")
        if(link STREQUAL wanted)
          set(found TRUE)
          break()
        endif()
        list(APPEND queue ${link})
      endif()
    endforeach()
  endwhile()
  set(${result} ${found} PARENT_SCOPE)
endfunction()

function(_lumarin_precompile target)
  get_target_property(type ${target} TYPE)
  if(NOT type MATCHES "^(STATIC_LIBRARY|EXECUTABLE|OBJECT_LIBRARY|SHARED_LIBRARY)$")
    return()
  endif()
  get_target_property(sources ${target} SOURCES)
  set(count 0)
  foreach(source IN LISTS sources)
    # Generated files (the embedded resources) are tiny: they use no precompiled header.
    if(source MATCHES "/embedded/")
      set_source_files_properties(${source} TARGET_DIRECTORY ${target}
        PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    elseif(source MATCHES "\\.cpp$")
      math(EXPR count "${count} + 1")
    endif()
  endforeach()
  if(type STREQUAL "EXECUTABLE")
    if(count LESS 3)
      return()
    endif()
  else()
    if(count LESS LUMARIN_PCH_MIN_SOURCES)
      return()
    endif()
    _lumarin_links(${target} Qt6::Widgets widgets)
    if(NOT widgets)
      return()
    endif()
  endif()
  set(headers ${_lumarin_pch_std})
  foreach(module IN ITEMS core gui widgets gtest gmock qttest)
    if(module STREQUAL "core")
      set(link Qt6::Core)
    elseif(module STREQUAL "gui")
      set(link Qt6::Gui)
    elseif(module STREQUAL "widgets")
      set(link Qt6::Widgets)
    elseif(module STREQUAL "gtest")
      set(link GTest::gtest)
    elseif(module STREQUAL "gmock")
      set(link GTest::gmock)
    else()
      set(link Qt6::Test)
    endif()
    _lumarin_links(${target} ${link} linked)
    if(linked)
      list(APPEND headers ${_lumarin_pch_${module}})
    endif()
  endforeach()
  target_precompile_headers(${target} PRIVATE ${headers})
endfunction()

# Every target defined in `directory` and below.
function(_lumarin_targets_in directory result)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(children DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(child IN LISTS children)
    _lumarin_targets_in(${child} nested)
    list(APPEND targets ${nested})
  endforeach()
  set(${result} ${targets} PARENT_SCOPE)
endfunction()

# Gives each of the project's targets its precompiled header. Called once, after every folder
# was added, so targets added later in any folder get theirs without a line of their own.
function(lumarin_precompile_all)
  if(NOT LUMARIN_PCH)
    return()
  endif()
  _lumarin_targets_in(${PROJECT_SOURCE_DIR} targets)
  foreach(target IN LISTS targets)
    _lumarin_precompile(${target})
  endforeach()
endfunction()
