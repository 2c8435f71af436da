# The main window and its settings page, part of tslui. Included from ui/CMakeLists.txt.
target_sources(tslui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/mainwindow.ui
    ${CMAKE_CURRENT_LIST_DIR}/mainwindow.h ${CMAKE_CURRENT_LIST_DIR}/mainwindow.cpp
    ${CMAKE_CURRENT_LIST_DIR}/settingspage.h ${CMAKE_CURRENT_LIST_DIR}/settingspage.cpp)
set_target_properties(tslui PROPERTIES AUTOUIC ON)
target_link_libraries(tslui PUBLIC tsldesktop Qt5::Network)
