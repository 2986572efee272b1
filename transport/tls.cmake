# TLS handlers of the transport layer: OpenSSL client and server handlers, the platform handler
# (on OpenSSL), their option groups and the factory the components call.
if(TARGET brz_transport)
  add_library(brz_tls
    ${PROJECT_SOURCE_DIR}/transport/TbrzSSLIOHandlerBase.cpp
    ${PROJECT_SOURCE_DIR}/transport/TbrzIdSSLIOHandlerSocketOpenSSL.cpp
    ${PROJECT_SOURCE_DIR}/transport/TbrzIdSSLIOHandlerServerOpenSSL.cpp
    ${PROJECT_SOURCE_DIR}/transport/TbrzIdSSLIOHandlerSocketSChannel.cpp
    ${PROJECT_SOURCE_DIR}/transport/TLSCertStore.cpp
    ${PROJECT_SOURCE_DIR}/transport/TLSHandlerFactory.cpp
  )
  target_include_directories(brz_tls PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(brz_tls PUBLIC brz_transport OpenSSL::SSL OpenSSL::Crypto)
endif()
