# Sub-protocol objects attached to client components.
if(TARGET brz_framework)
  add_library(brz_protocol
    ${PROJECT_SOURCE_DIR}/framework/TbrzWSProtocol.cpp
    ${PROJECT_SOURCE_DIR}/framework/TbrzWSProtocol_Client.cpp
  )
  target_include_directories(brz_protocol PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(brz_protocol PUBLIC brz_framework)
endif()
