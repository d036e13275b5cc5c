# The geometry tests compare with LAPACK (reference implementation, test-only dependency).
target_link_libraries(test_${module} PRIVATE lapack blas)
