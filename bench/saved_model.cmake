find_package(SQLite3 REQUIRED)
target_link_libraries(bench_${name} PRIVATE SQLite::SQLite3 tesmar_ddl)
