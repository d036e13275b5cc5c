# The schema compiler and writer make the schemas these tests read.
target_link_libraries(test_${module} PRIVATE tesmar_ddl)
