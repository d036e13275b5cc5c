target_link_libraries(bench_${name} PRIVATE tesmar_ddl)
