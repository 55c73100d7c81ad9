# Checks that every project include points down the module graph:
#   cmake -DSOURCE_DIR=<tree> -P CheckModuleIncludes.cmake
# A module may include its own headers and those of the modules listed for
# it. Below ui/ nothing includes Qt Gui, Widgets, WebEngine or DBus headers
# (they are on the include path through Qt's common root even where a
# module does not link them). Relative includes that climb out of a folder
# ("../") are refused everywhere.
#
# In src/, a project include names its module ("core/dashboard_page.h",
# never "dashboard_page.h"), so the check above sees every include.
#
# Starting programs and calling the operating system directly belong to
# platform (and app, which wires everything): elsewhere in src/ these
# headers are refused:
#   <unistd.h> <fcntl.h> <signal.h> <csignal> <spawn.h> <poll.h> <wait.h>
#   <dirent.h> <dlfcn.h> <pwd.h> <grp.h> <termios.h> <pty.h> <sched.h>
#   <pthread.h> <semaphore.h> <sys/...> <linux/...>
#   <QProcess> <QProcessEnvironment> (also as <QtCore/...> or <qprocess.h>)
# The stand-ins in tools/ are exempt: they play outside programs, which
# start programs of their own.
cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

# module -> the modules it may include besides itself (its link line)
set(allowed_platform "")
set(allowed_lib      "platform")
set(allowed_settings "lib;platform")
set(allowed_pkgmgr   "lib;platform")
set(allowed_core     "settings;pkgmgr;lib;platform")
set(allowed_ui       "core;settings;lib;platform")
set(allowed_app      "ui;core;settings;pkgmgr;lib;platform")
set(allowed_orv_reg  "platform")
# The stand-ins are separate programs: they share only the ground floor.
set(allowed_tools    "platform;lib")

set(modules platform lib settings pkgmgr core ui app orv_reg)
set(system_headers "(unistd|fcntl|signal|spawn|poll|wait|dirent|dlfcn|pwd|grp|termios|pty|sched|pthread|semaphore)\\.h|csignal|(sys|linux)/[^>]*|(QtCore/)?(QProcess|QProcessEnvironment|qprocess\\.h)")
set(desktop_only_qt "Qt(Gui|Widgets|WebEngine[A-Za-z]*|WebChannel|DBus)/|Q(Widget|Application|WebEngine[A-Za-z]*|DBus[A-Za-z]*|DesktopServices|Gui[A-Za-z]*)>")

set(violations "")

function(check_file file module)
  set(allowed ${module} ${allowed_${module}})
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include")
  file(RELATIVE_PATH shown "${SOURCE_DIR}" "${file}")
  foreach(line IN LISTS lines)
    if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]*)\"")
      set(target "${CMAKE_MATCH_1}")
      set(included "")
      if(target MATCHES "^([a-z_]+)/")
        set(included "${CMAKE_MATCH_1}")
      endif()
      if(target MATCHES "\\.\\./")
        list(APPEND violations "${shown}: climbs out of its folder: ${target}")
      elseif(included IN_LIST modules)
        if(NOT included IN_LIST allowed)
          list(APPEND violations "${shown}: ${module} may not include ${included}: ${target}")
        endif()
      elseif(NOT module STREQUAL "tools")
        list(APPEND violations "${shown}: include names no module: ${target}")
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*<([^>]*>)")
      set(target "${CMAKE_MATCH_1}")
      if(NOT module MATCHES "^(ui|app)$" AND target MATCHES "^(${desktop_only_qt})")
        list(APPEND violations "${shown}: ${module} may not include desktop Qt headers: <${target}")
      endif()
      if(NOT module MATCHES "^(platform|app|tools)$" AND target MATCHES "^(${system_headers})>")
        list(APPEND violations "${shown}: ${module} may not include process or system headers (platform's task): <${target}")
      endif()
    endif()
  endforeach()
  set(violations "${violations}" PARENT_SCOPE)
endfunction()

foreach(module IN LISTS modules)
  file(GLOB_RECURSE files "${SOURCE_DIR}/src/${module}/*.h" "${SOURCE_DIR}/src/${module}/*.cpp")
  foreach(file IN LISTS files)
    check_file("${file}" ${module})
  endforeach()
endforeach()
file(GLOB_RECURSE files "${SOURCE_DIR}/tools/*.h" "${SOURCE_DIR}/tools/*.cpp")
foreach(file IN LISTS files)
  check_file("${file}" tools)
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "Includes that break the module rules:\n  ${text}")
endif()
message(STATUS "Module includes follow the module graph")
