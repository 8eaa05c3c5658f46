# Precompiled headers. Most of a clean build's time goes into parsing the same
# third-party headers again for every file: the standard library everywhere,
# Qt's widget headers in the desktop program, GoogleTest in every test. Each
# target below parses them once instead. A clean build, which is what CI's
# `make test` does three times over, takes about a third less.
#
# Only headers of the standard library, Qt and GoogleTest go in, never one of
# ours (an edit of ours would rebuild everything) and no system-call header in
# the logic's set (the layer check reads includes; the precompiled set must
# not hand the logic what its files may not include). A file still names what
# it uses: the TSan tree of `make test` is built without them, so a missing
# include fails there as it would in the gcc tree.
#
# On by default with clang only: gcc 12 reports on library code inlined from a
# precompiled header as if it were ours (libstdc++'s string copies then give
# -Warray-bounds false alarms that fail -Werror). TW_PCH=OFF builds without.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(tw_pch_default ON)
else()
  set(tw_pch_default OFF)
endif()
option(TW_PCH "Precompile the standard library's, Qt's and GoogleTest's headers" ${tw_pch_default})

set(TW_PCH_STD
  <algorithm> <array> <atomic> <chrono> <cstddef> <cstdint> <cstring> <functional> <map>
  <memory> <mutex> <optional> <span> <string> <string_view> <utility> <variant> <vector>)
set(TW_PCH_QT
  <QAction> <QApplication> <QCheckBox> <QComboBox> <QFont> <QFontMetrics> <QHBoxLayout>
  <QHeaderView> <QImage> <QLabel> <QLineEdit> <QMenu> <QPainter> <QPlainTextEdit>
  <QPushButton> <QString> <QTimer> <QVBoxLayout> <QWidget>)
set(TW_PCH_TEST <gtest/gtest.h>)

# ccache caches files built with a precompiled header only when told that the
# header's time stamps may be ignored (it hashes the header's contents).
if(TW_PCH AND CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache")
  set(CMAKE_C_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime ${CMAKE_C_COMPILER_LAUNCHER})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime ${CMAKE_CXX_COMPILER_LAUNCHER})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:SHELL:-Xclang -fno-pch-timestamp>")
  endif()
endif()

# tw_precompile(TARGET [STD] [QT] [TEST] | TARGET REUSE_FROM OTHER): TARGET's
# C++ files get the named sets, or the header OTHER already built (same flags).
function(tw_precompile target)
  if(NOT TW_PCH)
    return()
  endif()
  cmake_parse_arguments(ARG "STD;QT;TEST" "REUSE_FROM" "" ${ARGN})
  if(ARG_REUSE_FROM)
    target_precompile_headers(${target} REUSE_FROM ${ARG_REUSE_FROM})
    return()
  endif()
  set(headers)
  if(ARG_STD)
    list(APPEND headers ${TW_PCH_STD})
  endif()
  if(ARG_QT)
    list(APPEND headers ${TW_PCH_QT})
  endif()
  if(ARG_TEST)
    list(APPEND headers ${TW_PCH_TEST})
  endif()
  # (Every file of ours is C++.)
  target_precompile_headers(${target} PRIVATE ${headers})
endfunction()
