find_package(SQLite3 REQUIRED)
target_link_libraries(bench_${name} PRIVATE SQLite::SQLite3 tesmar_ddl)
# Each job runs in a fresh process, driven by bench/entities.py.
set(bench_command python3 ${CMAKE_CURRENT_SOURCE_DIR}/entities.py $<TARGET_FILE:bench_entities>)
