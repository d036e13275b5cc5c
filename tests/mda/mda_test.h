// Shared fixture of the entity database tests: a started library, the bundled geometry schema and
// models allocated against it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mda/mda_internal.h"
#include "schema_support.h"
#include "support/library.h"
#include "tesmar/tesmar.h"

namespace tesmar::test {

// The bundled sample schema (samples/geometry.ddl), compiled and read by the library's reader.
ddf_Schema *read_geometry();
// A schema from schema-language text.
ddf_Schema *read_schema(std::string_view text);

class MdaTest : public LibraryTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A model allocated against the geometry schema; fails the test when allocation fails.
  int32_t allocate(uint32_t options = MDA_MEMORY_ONLY, bool back_ptrs = false,
                   const char *name = "model");
  // The TF of an entity name of the geometry schema.
  uint32_t tf(const char *name) const;

  ddf_Schema *schema_ = nullptr;
};

// Makes a reserved number of a model a live entity of type form `tf` (what entity creation does to
// the entry), optionally with memory: an independent block of the type's size with its header.
db_ptr make_entity(int32_t model, uint32_t tf, bool with_memory = false);



}  // namespace tesmar::test
