# A layer may use only the layers it links. A static library never fails to build when it
# calls up into a layer it does not link, so for each layer an executable takes every object of
# the library and only what the library links: a call across the layers leaves it unresolved.
function(vuv_check_layer_links)
  foreach(layer IN LISTS ARGN)
    add_executable(${layer}_links ${PROJECT_SOURCE_DIR}/cmake/layer_links_main.cpp)
    target_link_libraries(${layer}_links PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${layer}>")
  endforeach()
endfunction()
