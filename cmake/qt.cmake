# Qt draws the windows of a desktop session (the message boxes, the status window). Everything else builds without it:
# the engine, jetdb, and a jetcompact that writes its messages to the error stream. Targets that need Qt are built only
# where JETCOMPACT_HAVE_QT is true; the executables never link it, they load the module jetcompact_qt that does
# (platform/CMakeLists.txt).
#   AUTO  use Qt when it is found (the default)
#   ON    require it (CI, so that its windows and their tests cannot silently drop out)
#   OFF   build without it
set(JETCOMPACT_QT AUTO CACHE STRING "Build the Qt user interface: AUTO (when Qt 6 is found), ON or OFF")
set_property(CACHE JETCOMPACT_QT PROPERTY STRINGS AUTO ON OFF)

set(JETCOMPACT_HAVE_QT OFF)
if(NOT JETCOMPACT_QT STREQUAL "OFF")
  find_package(Qt6 QUIET COMPONENTS Widgets)
  # libxcb lets the program ask whether an X display can be reached before Qt is told to use it.
  find_path(XCB_INCLUDE_DIR xcb/xcb.h)
  find_library(XCB_LIBRARY xcb)
  if(Qt6_FOUND AND XCB_INCLUDE_DIR AND XCB_LIBRARY)
    set(JETCOMPACT_HAVE_QT ON)
  elseif(JETCOMPACT_QT STREQUAL "ON")
    message(FATAL_ERROR "JETCOMPACT_QT=ON but Qt 6 Widgets or libxcb was not found (install qt6-base-dev and "
                        "libxcb1-dev)")
  endif()
endif()

if(JETCOMPACT_HAVE_QT)
  message(STATUS "Qt ${Qt6_VERSION} found: jetcompact shows its messages in Qt message boxes when a display is "
                 "available")
else()
  message(STATUS "Building without Qt: jetcompact writes its messages to the error stream "
                 "(install qt6-base-dev and libxcb1-dev for message boxes)")
endif()
