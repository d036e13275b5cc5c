// Helpers of the entity life-cycle and entity I/O tests: disk-backed models in a scratch
// directory, a check of the cache's invariants, a position-independent image of an entity's
// memory, and a log that callbacks write to.
#pragma once

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "chain_check.h"
#include "mda_test.h"

namespace tesmar::test {

class LifeTest : public MdaTest {
 protected:
  void SetUp() override {
    MdaTest::SetUp();
    ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TMP", dir_.path().c_str()), 0u);
    log().clear();
  }

  // A model of `schema` (the geometry schema by default) with a paged file of `buffers` buffers of
  // `page` bytes.
  int32_t disk(uint32_t options = 0, bool back_ptrs = false, ddf_Schema *schema = nullptr,
               uint32_t buffers = 16, uint32_t page = 4096) {
    mda_ModelDef def;
    mda_InitModelDef(0, &def);
    def.schema = schema != nullptr ? schema : schema_;
    def.back_ptrs = back_ptrs ? 1 : 0;
    def.buffer_count = buffers;
    def.page_size = page;
    int32_t m = 0;
    EXPECT_EQ(mda_AllocateModel(options, &def, &m), 0u);
    return m;
  }

  // A new entity of the geometry schema, locked.
  db_ptr create(int32_t model, const char *name, void **memory = nullptr) {
    void *m = nullptr;
    db_ptr p = 0;
    EXPECT_EQ(mda_AllocateEntity(0, model, tf(name), &m, &p), 0u);
    if (memory != nullptr) *memory = m;
    return p;
  }


 public:
  static std::vector<std::pair<int32_t, db_ptr>> &log() {
    static std::vector<std::pair<int32_t, db_ptr>> entries;
    return entries;
  }
  static void record(int32_t kind, db_ptr *handle) { log().emplace_back(kind, *handle); }

 protected:
  TempDir dir_;
};

inline mda_EntityEntry entry(db_ptr p) {
  const mda_EntityEntry *e = mda::lookup(p);
  return e != nullptr ? *e : mda_EntityEntry{};
}
inline uint32_t locks(db_ptr p) { return mda::lock_count(entry(p).status); }

// The parents of an entity (through mda_GetParents).
inline std::vector<db_ptr> parents(db_ptr p) {
  int32_t n = 0;
  db_ptr *array = nullptr;
  EXPECT_EQ(mda_GetParents(0, p, &n, &array), 0u);
  std::vector<db_ptr> out(array, array + n);
  std::free(array);
  return out;
}

// The cache's invariants (mda::cache_fault): an empty string when all holds; `occupants` receives
// the cached handles from least to most recently used.
inline std::string cache_fault(int32_t model, std::vector<db_ptr> *occupants = nullptr) {
  mda_ModelRec *rec = mda::model_in_use(model);
  if (rec == nullptr || rec->cache == nullptr) return "no cache";
  if (const char *fault = mda::cache_fault(rec)) return fault;
  if (occupants != nullptr) {
    occupants->clear();
    for (uint16_t i = rec->lru; i != MDA_CACHE_NONE; i = rec->cache[i].next)
      if (rec->cache[i].ptr != 0) occupants->push_back(rec->cache[i].ptr);
  }
  return "";
}

// An image of entity memory that does not depend on where its blocks are: per block its type,
// size and data, with each successor slot replaced by the successor's ordinal and each array's
// own address and row pointers made relative to the array header.
inline std::vector<std::string> image(void *memory) {
  std::vector<MBlock *> blocks = chain_of(memory);
  std::vector<std::string> out;
  for (MBlock *b : blocks) {
    std::string bytes(mda::data_of(b), b->size - MDA_MBLOCK_HEADER_SIZE);
    if (b->type == MDA_MBLOCK_ARRAY) {
      const mda_ArrayHeader *ah = mda::array_header(b);
      const uint64_t base = reinterpret_cast<uint64_t>(ah);
      std::memset(bytes.data(), 0, 8);
      for (uint32_t r = 0; r < ah->row_count; ++r) {
        uint64_t v = read_word(base + MDA_ARRAY_HEADER_SIZE + 8 * r) - base;
        std::memcpy(bytes.data() + MDA_ARRAY_HEADER_SIZE + 8 * r, &v, 8);
      }
    }
    out.push_back(std::to_string(b->type) + ":" + std::to_string(b->size) + ":" + bytes);
  }
  for (std::size_t i = 0; i + 1 < blocks.size(); ++i) {
    for (std::size_t j = 0; j < blocks.size(); ++j) {
      if (!mda::holds_slot(blocks[j], blocks[i]->reference)) continue;
      const uint64_t at =
          blocks[i]->reference - reinterpret_cast<uint64_t>(mda::data_of(blocks[j]));
      const uint64_t ordinal = 1000 + i + 1;
      std::memcpy(out[j].data() + out[j].find(':', out[j].find(':') + 1) + 1 + at, &ordinal, 8);
    }
  }
  return out;
}

}  // namespace tesmar::test
