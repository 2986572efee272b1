# Compression extensions (permessage-deflate, x-webkit-deflate-frame): sans-I/O, used by the frame codec
# and both handshakes.
add_library(brz_ws_extensions
  ${PROJECT_SOURCE_DIR}/websocket/TbrzWSExtensionDeflate.cpp
  ${PROJECT_SOURCE_DIR}/websocket/TbrzWSExtension.cpp
  ${PROJECT_SOURCE_DIR}/websocket/TbrzWSExtensions.cpp
)
target_include_directories(brz_ws_extensions PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(brz_ws_extensions PUBLIC brz_common ZLIB::ZLIB)
