find_package(ICU REQUIRED COMPONENTS uc)
target_link_libraries(bench_${name} PRIVATE ICU::uc)
