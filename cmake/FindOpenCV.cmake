# Finds the OpenCV modules asked for as COMPONENTS and gives each an imported target
# opencv_<module>. OpenCV's own CMake package comes only with Debian's libopencv-dev, which pulls
# in every module and its dependencies; the per-module -dev packages we need ship headers and
# libraries but no package file, so this looks for those directly when OpenCV's file is absent.
find_package(OpenCV CONFIG QUIET COMPONENTS ${OpenCV_FIND_COMPONENTS})
if(OpenCV_FOUND)
    return()
endif()

find_path(OpenCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
foreach(module IN LISTS OpenCV_FIND_COMPONENTS)
    find_library(OpenCV_${module}_LIBRARY opencv_${module})
    if(OpenCV_INCLUDE_DIR AND OpenCV_${module}_LIBRARY)
        set(OpenCV_${module}_FOUND TRUE)
        if(NOT TARGET opencv_${module})
            add_library(opencv_${module} UNKNOWN IMPORTED)
            set_target_properties(opencv_${module} PROPERTIES
                IMPORTED_LOCATION "${OpenCV_${module}_LIBRARY}"
                INTERFACE_INCLUDE_DIRECTORIES "${OpenCV_INCLUDE_DIR}")
        endif()
    endif()
endforeach()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OpenCV REQUIRED_VARS OpenCV_INCLUDE_DIR HANDLE_COMPONENTS)
