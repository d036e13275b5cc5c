# The configuration tests read their schemas with the entity database tests' helpers (the schema
# compiler and the library's reader).
target_link_libraries(test_${module} PRIVATE tesmar_ddl)
target_sources(test_${module} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/ddf/schema_support.cpp
                                      ${CMAKE_CURRENT_SOURCE_DIR}/mda/mda_support.cpp)
target_include_directories(test_${module} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/ddf
                                                  ${CMAKE_CURRENT_SOURCE_DIR}/mda)
