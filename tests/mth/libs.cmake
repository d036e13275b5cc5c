# The geometry tests compare with LAPACK (reference implementation, test-only dependency).
target_link_libraries(test_${module} PRIVATE lapack blas)
# The reference results are computed at build time by the trusted peer (mpmath, at 50 digits).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/mth_reference.txt
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/mth/reference.py > ${CMAKE_CURRENT_BINARY_DIR}/mth_reference.txt
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/mth/reference.py VERBATIM)
add_custom_target(mth_reference DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/mth_reference.txt)
add_dependencies(test_${module} mth_reference)
target_compile_definitions(test_${module} PRIVATE
  TESMAR_MTH_REFERENCE="${CMAKE_CURRENT_BINARY_DIR}/mth_reference.txt")
