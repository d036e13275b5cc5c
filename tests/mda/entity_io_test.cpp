// Writing entities to the paged file and loading them back: round trips for every field kind,
// long chains, records that grow and shrink, records corrupted in the file, and writes the file
// refuses.
#include <algorithm>
#include <cerrno>
#include <map>

#include "ddf/ddf_internal.h"
#include "life_support.h"
#include "platform/file_io.h"

namespace tesmar::test {
namespace {

// Nested storage: a three-dimensional array block, strings whose slots lie in other blocks (a
// plain block of string pointers, an array of structures, the element area of an array block).
constexpr const char *kNested = R"(
  database "nested" version 1 release 0;
  entity holder 1:0 {
    count n;
    count m;
    double grid[n][m][2] variable;
    vstring names[n];
    struct rows[n] { vstring text; int k; }
    ptr(any) refs[m];
    vstring cells[n][m] variable;
    fstring(4) tag;
    short s;
    char c;
    float f;
    long l;
    union u { int i; double d; }
  }
)";

// Offsets of the holder's top-level fields: the walk from byte 24 by slot and filler bytes.
struct Layout {
  std::map<std::string, uint32_t> at;
  uint32_t end = 0;
};
Layout layout_of(const ddf_Schema *schema, uint32_t tf) {
  Layout out;
  const int32_t tfi = ddf_FindTFI(schema->typeforms, schema->tf_count, tf);
  auto fields = tesmar::ddf::type_fields(schema, tfi);
  uint32_t at = sizeof(mda_EntityHeader);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const ddf_FieldDesc &d = fields[i];
    if (d.kind == DDF_ENDENT) break;
    if (const char *name = tesmar::ddf::field_name(schema, d)) out.at[name] = at;
    if (d.kind == DDF_STRUCT) {
      const bool held = (d.flags & (DDF_PTRFIXED | DDF_VARIABLE)) != 0;
      at += (held ? 8 : static_cast<uint32_t>(d.key)) + static_cast<uint32_t>(d.filler);
      i += static_cast<std::size_t>(d.aux);  // past its members and endstruct
      continue;
    }
    at += static_cast<uint32_t>(tesmar::ddf::slot_size(d)) + static_cast<uint32_t>(d.filler);
  }
  out.end = at;
  return out;
}

char *at(void *memory, uint32_t offset) { return static_cast<char *>(memory) + offset; }

template <typename T>
void put(void *memory, uint32_t offset, T value) {
  std::memcpy(at(memory, offset), &value, sizeof value);
}

template <typename T>
T *slot_value(void *slot) {
  T *v;
  std::memcpy(&v, slot, sizeof v);
  return v;
}

// A string block in the entity's chain, its address stored in `slot`.
void add_string(void *owner, void *slot, const std::string &text) {
  ASSERT_EQ(mda_Malloc(0, owner, static_cast<uint32_t>(text.size() + 1), slot), 0u);
  std::memcpy(slot_value<char>(slot), text.c_str(), text.size() + 1);
}

class EntityIo : public LifeTest {
 protected:
  void SetUp() override {
    LifeTest::SetUp();
    nested_ = read_schema(kNested);
    ASSERT_NE(nested_, nullptr);
    holder_ = nested_->typeforms[0];
    layout_ = layout_of(nested_, holder_);
  }
  void TearDown() override {
    LifeTest::TearDown();
    ddf_FreeSchema(0, nested_);
  }

  // A holder with n names, rows and cells rows, m columns, every field filled.
  db_ptr make_holder(int32_t model, int32_t n, int32_t m, int seed = 0) {
    void *e = nullptr;
    db_ptr p = 0;
    EXPECT_EQ(mda_AllocateEntity(0, model, holder_, &e, &p), 0u);
    const auto &f = layout_.at;
    put<int32_t>(e, f.at("n"), n);
    put<int32_t>(e, f.at("m"), m);
    EXPECT_EQ(mda_MallocArray(0, e, 8, at(e, f.at("grid")), 3, n, m, 2), 0u);
    auto ***grid = slot_value<double **>(at(e, f.at("grid")));
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < m; ++j)
        for (int k = 0; k < 2; ++k) grid[i][j][k] = seed + i * 100 + j * 10 + k + 0.25;
    EXPECT_EQ(mda_Malloc(0, e, static_cast<uint32_t>(8 * n), at(e, f.at("names"))), 0u);
    char *names = slot_value<char>(at(e, f.at("names")));
    for (int i = 0; i < n; ++i) add_string(e, names + 8 * i, "name " + std::to_string(seed + i));
    EXPECT_EQ(mda_Malloc(0, e, static_cast<uint32_t>(16 * n), at(e, f.at("rows"))), 0u);
    char *rows = slot_value<char>(at(e, f.at("rows")));
    for (int i = 0; i < n; ++i) {
      add_string(e, rows + 16 * i, std::string(static_cast<std::size_t>(i + 1), 'r'));
      put<int32_t>(rows, 16 * i + 8, seed * 7 + i);
    }
    EXPECT_EQ(mda_Malloc(0, e, static_cast<uint32_t>(8 * m), at(e, f.at("refs"))), 0u);
    for (int j = 0; j < m; ++j)
      put<db_ptr>(slot_value<char>(at(e, f.at("refs"))), 8 * j, MDA_MAKE_PTR(model, 500 + j));
    EXPECT_EQ(mda_MallocArray(0, e, 8, at(e, f.at("cells")), 2, n, m), 0u);
    auto **cells = slot_value<char **>(at(e, f.at("cells")));
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < m; ++j)
        add_string(e, &cells[i][j], "cell " + std::to_string(i) + "," + std::to_string(j));
    std::memcpy(at(e, f.at("tag")), "abcd", 4);
    put<int16_t>(e, f.at("s"), static_cast<int16_t>(-5 - seed));
    put<char>(e, f.at("c"), 'q');
    put<float>(e, f.at("f"), 1.5f);
    put<int32_t>(e, f.at("l"), 123456 + seed);
    put<int16_t>(e, f.at("u"), 1);
    put<double>(e, f.at("u") + 8, 2.75);
    return p;
  }

  // Writes the entity out (unlocked, without its memory) and locks it again: the image and the
  // chain must be as before.
  void round_trip(db_ptr p) {
    void *memory = nullptr;
    ASSERT_EQ(mda_LockEntity(0, p, &memory), 0u);
    ASSERT_EQ(chain_fault(memory), "");
    const std::vector<std::string> before = image(memory);
    ASSERT_EQ(mda_UnlockEntity(MDA_FULL_UNLOCK | MDA_MODIFIED, p), 0u);
    ASSERT_EQ(mda_WriteEntity(0, p), 0u);
    ASSERT_FALSE(mda_IsInMemory(0, p));
    ASSERT_EQ(mda_LockEntity(0, p, &memory), 0u);
    EXPECT_EQ(chain_fault(memory), "");
    EXPECT_EQ(image(memory), before);
    ASSERT_EQ(mda_UnlockEntity(0, p), 0u);
  }

  ddf_Schema *nested_ = nullptr;
  uint32_t holder_ = 0;
  Layout layout_;
};

TEST_F(EntityIo, WritingKeepsOrParksTheImage) {
  const int32_t disk_model = disk();
  void *memory = nullptr;
  const db_ptr p = create(disk_model, "layer", &memory);
  add_string(memory, at(memory, 24), "kept");
  // A locked entity keeps its memory whatever the options.
  ASSERT_EQ(mda_WriteEntity(0, p), 0u);
  EXPECT_EQ(entry(p).mloc, memory);
  EXPECT_EQ(entry(p).status & MDA_ENTRY_NEEDFLUSH, 0u);
  EXPECT_NE(entry(p).dloc, MDA_NO_DLOC);
  ASSERT_EQ(mda_UnlockEntity(0, p), 0u);
  ASSERT_EQ(mda_WriteEntity(MDA_KEEP_IMAGE, p), 0u);
  EXPECT_TRUE(mda_IsInMemory(0, p));
  EXPECT_EQ(cache_fault(disk_model), "");
  EXPECT_EQ(mda_WriteEntity(0, MDA_MAKE_PTR(disk_model, 40)), MDA_INVALID_PTR);

  // Memory-only: a parked copy, then the image itself.
  const int32_t m = disk(MDA_MEMORY_ONLY);
  const db_ptr q = create(m, "layer", &memory);
  add_string(memory, at(memory, 24), "parked");
  ASSERT_EQ(mda_UnlockEntity(0, q), 0u);
  ASSERT_EQ(mda_WriteEntity(MDA_KEEP_IMAGE, q), 0u);
  void *parked = reinterpret_cast<void *>(entry(q).dloc);
  ASSERT_NE(parked, nullptr);
  EXPECT_NE(parked, memory);
  EXPECT_EQ(image(parked), image(memory));
  EXPECT_EQ(static_cast<mda_EntityHeader *>(parked)->ptr, q);
  ASSERT_EQ(mda_WriteEntity(0, q), 0u);  // the copy goes, the image is parked
  EXPECT_EQ(entry(q).dloc, reinterpret_cast<uint64_t>(memory));
  EXPECT_FALSE(mda_IsInMemory(0, q));
  void *loaded = mda_LoadEntity(0, q);
  ASSERT_NE(loaded, nullptr);
  EXPECT_NE(loaded, memory);
  EXPECT_EQ(image(loaded), image(memory));
  EXPECT_EQ(mda_LoadEntity(0, q), loaded);  // already in memory
}

// The record of an entity as the paged file holds it: each block's address and header.
struct Stored {
  int64_t at;
  MBlock header;
};
std::vector<Stored> record_of(DofFile *file, uint64_t dloc) {
  std::vector<Stored> blocks;
  for (uint64_t at = dloc; blocks.size() < 1000;) {
    MBlock h;
    EXPECT_EQ(dof_ReadWrite(DOF_READ, file, sizeof h, static_cast<int64_t>(at), &h), 0u);
    blocks.push_back({static_cast<int64_t>(at), h});
    if (h.next == UINT64_MAX) break;
    at = h.next;
  }
  return blocks;
}

TEST_F(EntityIo, ACorruptedRecordIsRefusedAndTheEntryKept) {
  const int32_t model = disk(0, false, nested_);
  DofFile *file = mda::model_in_use(model)->file;
  const db_ptr p = make_holder(model, 1, 1);
  void *memory = mda::lookup(p)->mloc;
  const std::vector<std::string> original = image(memory);
  ASSERT_EQ(mda_UnlockEntity(0, p), 0u);
  ASSERT_EQ(mda_WriteEntity(0, p), 0u);
  const mda_EntityEntry before = entry(p);
  const std::vector<Stored> blocks = record_of(file, before.dloc);
  ASSERT_EQ(blocks.size(), 9u);
  std::size_t array = 0, plain = 0;
  for (std::size_t i = 1; i < blocks.size(); ++i) {
    if (blocks[i].header.type == MDA_MBLOCK_ARRAY && array == 0) array = i;
    if (blocks[i].header.type == MDA_MBLOCK_PLAIN && plain == 0) plain = i;
  }
  ASSERT_NE(array, 0u);
  ASSERT_NE(plain, 0u);
  const std::size_t last = blocks.size() - 1;
  const auto field = [&](std::size_t i, int64_t offset) { return blocks[i].at + offset; };
  const auto data = [&](std::size_t i, int64_t offset) { return field(i, 40 + offset); };
  const uint32_t holder0 = blocks[0].header.slot_block;
  const MBlock &a = blocks[array].header;

  struct Case {
    const char *what;
    int64_t offset;
    std::vector<unsigned char> bytes;
  };
  const auto u32 = [](uint32_t v) {
    return std::vector<unsigned char>(reinterpret_cast<unsigned char *>(&v),
                                      reinterpret_cast<unsigned char *>(&v) + 4);
  };
  const auto u64 = [](uint64_t v) {
    return std::vector<unsigned char>(reinterpret_cast<unsigned char *>(&v),
                                      reinterpret_cast<unsigned char *>(&v) + 8);
  };
  uint64_t first_row = 0;
  ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 8, data(array, 48), &first_row), 0u);
  // Block 1's successor slot made the same as block 0's (offset and holder).
  std::vector<unsigned char> two_slots = u64(blocks[0].header.reference);
  for (unsigned char byte : u32(blocks[0].header.slot_block)) two_slots.push_back(byte);
  const std::vector<Case> cases = {
      {"marker", field(plain, 32), {'X', 'X', 'X', 'X'}},
      {"type 3", field(plain, 36), {3}},
      {"an array block first", field(0, 36), {2}},
      {"size below the header", field(plain, 0), u32(36)},
      {"array block below its headers", field(array, 0), u32(80)},
      {"size not a multiple of 4", field(plain, 0), u32(blocks[plain].header.size + 2)},
      {"size past the record", field(plain, 0), u32(0x7FFFFFF0u)},
      {"next outside the file", field(0, 24), u64(static_cast<uint64_t>(file->end) + 4096)},
      {"next backwards (a loop)", field(1, 24), u64(static_cast<uint64_t>(blocks[0].at))},
      {"next inside its own block", field(0, 24), u64(static_cast<uint64_t>(blocks[0].at) + 40)},
      {"last block with a successor", field(last, 24), u64(static_cast<uint64_t>(blocks[0].at))},
      {"slot block index out of range", field(0, 16), u32(99)},
      {"slot inside a block header", field(0, 8), u64(4)},
      {"slot past its block", field(0, 8), u64(blocks[holder0].header.size - 4)},
      {"last block with a slot", field(last, 16), u32(0)},
      {"middle block without a slot", field(1, 16), u32(0xFFFFFFFFu)},
      {"two slots in one place", field(1, 8), two_slots},
      {"array dimensions", data(array, 8), {6}},
      {"array row count", data(array, 40), u32(a.size)},
      {"array element offset", data(array, 44), u32(400)},
      {"array element size", data(array, 32), u64(uint64_t{1} << 60)},
      {"array row pointer", data(array, 48), u64(first_row + 8)},
      {"entity type form", data(0, 0), u32(tf("point"))},
      {"entity type form index", data(0, 4), u32(1000)},
      {"entity handle", data(0, 8), u64(MDA_MAKE_PTR(model, 99))},
      {"record size", static_cast<int64_t>(before.dloc) - 4, u32(0x7FFFFFFFu)},
  };
  std::vector<unsigned char> saved(16);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const auto n = static_cast<uint32_t>(c.bytes.size());
    ASSERT_EQ(dof_ReadWrite(DOF_READ, file, n, c.offset, saved.data()), 0u);
    std::vector<unsigned char> bytes = c.bytes;
    ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, n, c.offset, bytes.data()), 0u);
    mpm_DiscardPending(0);
    void *got = reinterpret_cast<void *>(1);
    EXPECT_EQ(mda_LockEntity(0, p, &got), MDA_BAD_MBLOCK);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(pending_codes(), std::vector<mpm_Status>{MDA_BAD_MBLOCK});
    const mda_EntityEntry now = entry(p);
    EXPECT_EQ(std::memcmp(&now, &before, sizeof now), 0);
    ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, n, c.offset, saved.data()), 0u);
  }
  // Entries that name no record.
  mda_EntityEntry *e = mda::lookup(p);
  for (uint64_t dloc : {uint64_t{0}, uint64_t{4}, static_cast<uint64_t>(file->end),
                        uint64_t{1} << 62}) {
    e->dloc = dloc;
    EXPECT_EQ(mda_LockEntity(0, p, nullptr), MDA_BAD_MBLOCK) << dloc;
  }
  e->dloc = MDA_NO_DLOC;
  EXPECT_EQ(mda_LoadEntity(0, p), nullptr);
  EXPECT_EQ(pending_codes().front(), MDA_NULL_MEMPTR);
  e->dloc = before.dloc;
  ASSERT_EQ(mda_LockEntity(0, p, &memory), 0u);
  EXPECT_EQ(image(memory), original);
  EXPECT_EQ(chain_fault(memory), "");
}

// Reads every element of every field, texts to their ends.
mpm_Status read_everything(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *,
                           mpm_Status *, int32_t *, void *) {
  static volatile std::size_t sink = 0;
  if (address == nullptr || count <= 0) return 0;
  if (type == DDF_VSTRING) {
    for (int32_t i = 0; i < count; ++i) {
      const char *text = nullptr;
      std::memcpy(&text, static_cast<char *>(address) + 8 * i, sizeof text);
      if (text != nullptr) sink = sink + std::strlen(text);
    }
  }
  return 0;
}

// Every field of every block header of a stored record changed to 0, 1, 2, the block count and
// all ones: the loader refuses the record (MDA_BAD_MBLOCK, the entry as it was) or the change was
// to a field that loading rewrites anyway, and the entity comes back as it was stored. No change
// may leave a block field holding something that is not one of the entity's blocks.
TEST_F(EntityIo, EveryChangeOfABlockHeaderFieldIsRefusedOrHarmless) {
  const int32_t model = disk(0, false, nested_);
  DofFile *file = mda::model_in_use(model)->file;
  const db_ptr p = make_holder(model, 2, 1);
  const std::vector<std::string> original = image(mda::lookup(p)->mloc);
  ASSERT_EQ(mda_UnlockEntity(0, p), 0u);
  ASSERT_EQ(mda_WriteEntity(0, p), 0u);
  const mda_EntityEntry before = entry(p);
  const std::vector<Stored> blocks = record_of(file, before.dloc);
  const struct {
    uint32_t offset, width;
  } fields[] = {{0, 4}, {4, 4}, {8, 8}, {16, 4}, {20, 4}, {24, 8}, {32, 4}, {36, 1}, {37, 1}, {38, 2}};
  const uint64_t values[] = {0, 1, 2, blocks.size(), ~uint64_t{0}};
  int refused = 0;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    for (const auto &f : fields) {
      for (const uint64_t v : values) {
        SCOPED_TRACE("block " + std::to_string(b) + " offset " + std::to_string(f.offset) +
                     " value " + std::to_string(v));
        const int64_t at = blocks[b].at + f.offset;
        uint64_t saved = 0;
        ASSERT_EQ(dof_ReadWrite(DOF_READ, file, f.width, at, &saved), 0u);
        if (std::memcmp(&saved, &v, f.width) == 0) continue;
        ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, f.width, at, const_cast<uint64_t *>(&v)), 0u);
        void *memory = nullptr;
        const mpm_Status status = mda_LockEntity(0, p, &memory);
        if (status == 0) {
          EXPECT_EQ(image(memory), original);
          EXPECT_EQ(chain_fault(memory), "");
          EXPECT_EQ(mda_TraverseEntity2(0, memory, read_everything, nullptr), 0u);
          ASSERT_EQ(mda_UnlockEntity(0, p), 0u);
          ASSERT_EQ(mda_WriteEntity(0, p), 0u);
        } else {
          ++refused;
          EXPECT_EQ(status, MDA_BAD_MBLOCK);
          EXPECT_EQ(memory, nullptr);
          const mda_EntityEntry now = entry(p);
          EXPECT_EQ(std::memcmp(&now, &before, sizeof now), 0);
        }
        mpm_DiscardPending(0);
        ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, f.width, at, &saved), 0u);
        ASSERT_EQ(entry(p).dloc, before.dloc);
      }
    }
  }
  EXPECT_GT(refused, 100);
  void *memory = nullptr;
  ASSERT_EQ(mda_LockEntity(0, p, &memory), 0u);
  EXPECT_EQ(image(memory), original);
}

// The paged file's writes fail while `failing` is set.
struct FailingWrites {
  static inline bool failing = false;
  static int64_t write_at(int fd, const void *buffer, std::size_t n, int64_t offset) {
    if (failing) {
      errno = EIO;
      return -1;
    }
    return platform::system_file_io().write_at(fd, buffer, n, offset);
  }
  FailingWrites() : table(platform::system_file_io()) {
    table.write_at = write_at;
    platform::set_file_io(&table);
  }
  ~FailingWrites() {
    platform::set_file_io(nullptr);
    failing = false;
  }
  platform::FileIo table;
};

TEST_F(EntityIo, AFailedWriteLeavesTheEntityAsItWas) {
  FailingWrites io;
  // One buffer of 512 bytes: a record of several pages must write pages back as it goes.
  const int32_t model = disk(0, false, nested_, 1, 512);
  const db_ptr p = make_holder(model, 12, 3);
  void *memory = mda::lookup(p)->mloc;
  const std::vector<std::string> original = image(memory);
  ASSERT_EQ(mda_UnlockEntity(0, p), 0u);

  // A write that fails leaves the entity as it was, without a record; it goes out whole later.
  const auto unchanged = [&](db_ptr q, void *at, const std::vector<std::string> &was) {
    const mda_EntityEntry e = entry(q);
    EXPECT_EQ(e.mloc, at);
    EXPECT_EQ(e.dloc, MDA_NO_DLOC);
    EXPECT_NE(e.status & MDA_ENTRY_NEEDFLUSH, 0u);
    EXPECT_EQ(chain_fault(at), "");
    EXPECT_EQ(image(at), was);
    EXPECT_EQ(cache_fault(model), "");
  };
  DofFile *file = mda::model_in_use(model)->file;
  const auto failed_write = [&](db_ptr q, bool takes_space) {
    void *at = entry(q).mloc;
    const std::vector<std::string> was = image(at);
    const int64_t end = file->end;
    const uint32_t free_blocks = file->free_list->free_blocks;
    FailingWrites::failing = true;
    EXPECT_EQ(mda_WriteEntity(0, q), DOF_WRITE_ERR);
    unchanged(q, at, was);
    if (!takes_space) {
      EXPECT_EQ(file->end, end);
      EXPECT_EQ(file->free_list->free_blocks, free_blocks);
    }
    FailingWrites::failing = false;
    round_trip(q);
  };
  failed_write(p, true);
  // Rewritten in place: a failure leaves no record (the memory is the only copy).
  ASSERT_EQ(mda_LockEntity(0, p, &memory), 0u);
  ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, p), 0u);
  failed_write(p, true);

  // An eviction that cannot write: the evicted entity stays in memory, out of the cache.
  ASSERT_EQ(mda_LockEntity(0, p, &memory), 0u);
  ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, p), 0u);  // the least recently used
  FailingWrites::failing = true;
  mpm_Status status = 0;
  std::vector<db_ptr> others;
  while (status == 0 && others.size() < 32) {
    others.push_back(make_holder(model, 1, 1, static_cast<int>(others.size())));
    status = mda_UnlockEntity(0, others.back());
  }
  EXPECT_EQ(status, DOF_WRITE_ERR);
  EXPECT_EQ(others.size(), 32u);
  unchanged(p, memory, original);  // its record was being rewritten in place
  std::vector<db_ptr> cached;
  ASSERT_EQ(cache_fault(model, &cached), "");
  EXPECT_EQ(std::count(cached.begin(), cached.end(), p), 0);
  FailingWrites::failing = false;
  round_trip(p);
  for (db_ptr o : others) round_trip(o);

  // A new small record goes out with its block's header: a failure takes no space.
  const db_ptr fresh = make_holder(model, 1, 1, 40);
  ASSERT_EQ(mda_UnlockEntity(0, fresh), 0u);
  failed_write(fresh, false);
}

}  // namespace
}  // namespace tesmar::test
