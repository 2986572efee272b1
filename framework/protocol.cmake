# Sub-protocol objects attached to client components. The component line dispatches to them and
# offers their names, so their sources are part of brz_framework; brz_protocol names that part.
if(TARGET brz_framework)
  target_sources(brz_framework PRIVATE
    ${PROJECT_SOURCE_DIR}/framework/TbrzWSProtocol.cpp
    ${PROJECT_SOURCE_DIR}/framework/TbrzWSProtocol_Client.cpp
  )
  add_library(brz_protocol INTERFACE)
  target_link_libraries(brz_protocol INTERFACE brz_framework)
endif()
