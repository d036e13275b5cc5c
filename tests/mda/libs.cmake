# Schemas for these tests are compiled by the schema compiler and read by the library's reader,
# through the helpers of the schema tests.
target_link_libraries(test_${module} PRIVATE tesmar_ddl)
target_sources(test_${module} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/ddf/schema_support.cpp)
target_include_directories(test_${module} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/ddf)
