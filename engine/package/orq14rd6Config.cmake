# The package config of the runtime package orq14rd6: defines the imported target
# orq14rd6::orq14rd6 (the shared library, its include folder and its C++20 requirement).
include("${CMAKE_CURRENT_LIST_DIR}/orq14rd6Targets.cmake")
