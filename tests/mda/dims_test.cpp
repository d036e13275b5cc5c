// Array dimensions of fields, and arrays made from lists and trees.
#include <cstdlib>

#include "chain_check.h"
#include "mda_test.h"

namespace tesmar::test {
namespace {

using DimsTest = LibraryTest;

constexpr const char *kSchema = R"(
  database "dims" version 1 release 0;
  entity holder 1:0 {
    count n;
    count k;
    count z;
    double pts[n][3];
    double open[][3] variable;
    double line[] variable;
    short s[];
    fstring(8) labels[];
    struct segs[] { int a; double b; }
    double grid[n][k] variable;
    double never[][z] variable;
    int halves[n/2];
    fstring(6) names[n];
    double wide[][n][n][n][n] variable;
  }
)";

struct Dims {
  mpm_Status status;
  std::vector<int32_t> dims;
};

Dims dims_of(const char *field, const void *array) {
  int32_t d[MDA_MAX_DIMS] = {-1, -1, -1, -1, -1};
  int32_t n = -1;
  mpm_Status status = mda_GetArrayDims(tesmar::test::field("holder", field), array, d, &n);
  return Dims{status, std::vector<int32_t>(d, d + std::max(n, 0))};
}

TEST_F(DimsTest, DimensionsComeFromTheRegistersAndTheBlocks) {
  CurrentSchema schema(kSchema);
  int32_t registers[DDF_REGISTER_COUNT] = {0, 5, 4, 0};  // n = 5, k = 4, z = 0
  int32_t *saved = ddf_registers;
  ddf_registers = registers;

  EXPECT_EQ(dims_of("pts", nullptr).dims, (std::vector<int32_t>{5, 3}));
  EXPECT_EQ(dims_of("grid", nullptr).dims, (std::vector<int32_t>{5, 4}));
  EXPECT_EQ(dims_of("halves", nullptr).dims, (std::vector<int32_t>{2}));
  EXPECT_EQ(dims_of("names", nullptr).dims, (std::vector<int32_t>{5}));  // the length is not one
  // Open first dimensions: 0 without a block, else from the block's size.
  EXPECT_EQ(dims_of("open", nullptr).dims, (std::vector<int32_t>{0, 3}));

  void *open = nullptr;
  ASSERT_EQ(mda_AllocateArray(0, nullptr, 8, &open, 2, 7, 3), 0u);
  EXPECT_EQ(dims_of("open", open).dims, (std::vector<int32_t>{7, 3}));
  // A one-dimensional variable array is a plain block: the block says so, not the field.
  void *line = nullptr;
  ASSERT_EQ(mda_MallocArray(0, nullptr, 8, &line, 1, 6), 0u);
  EXPECT_EQ(dims_of("line", line).dims, (std::vector<int32_t>{6}));
  void *shorts = nullptr;
  ASSERT_EQ(mda_Malloc(0, nullptr, 2 * 9, &shorts), 0u);
  EXPECT_EQ(dims_of("s", shorts).dims, (std::vector<int32_t>{10}));  // 20 usable bytes
  void *labels = nullptr;
  ASSERT_EQ(mda_Malloc(0, nullptr, 8 * 3, &labels), 0u);
  EXPECT_EQ(dims_of("labels", labels).dims, (std::vector<int32_t>{3}));  // strings of 8
  void *segs = nullptr;
  ASSERT_EQ(mda_Malloc(0, nullptr, 16 * 4, &segs), 0u);
  EXPECT_EQ(dims_of("segs", segs).dims, (std::vector<int32_t>{4}));
  // A zero divisor gives 0, not a fault.
  EXPECT_EQ(dims_of("never", open).dims, (std::vector<int32_t>{0, 0}));

  alignas(8) char fake[128] = {};
  EXPECT_EQ(dims_of("open", fake + 96).status, MDA_BAD_MBLOCK);
  int32_t d[5], n = 0;
  EXPECT_EQ(mda_GetArrayDims(nullptr, open, d, &n), MDA_NULL_MEMPTR);

  // Dimensions whose product leaves 64 bits leave no room for a first one.
  registers[1] = INT32_MAX;
  EXPECT_EQ(dims_of("wide", open).dims,
            (std::vector<int32_t>{0, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}));
  // Registers that are not there read as 0.
  ddf_registers = nullptr;
  EXPECT_EQ(dims_of("grid", nullptr).dims, (std::vector<int32_t>{0, 0}));
  ddf_registers = saved;
  EXPECT_EQ(mda_Free(MDA_FREE_ARRAY, nullptr, open), 0u);
  for (void *p : {line, shorts, labels, segs}) EXPECT_EQ(mda_FreeEntityMemory(0, p), 0u);
}

TEST_F(DimsTest, DimensionExpressions) {
  const int32_t regs[DDF_REGISTER_COUNT] = {0, 7, -3};
  auto eval = [&regs](int16_t a, int16_t b, char op) {
    return mda::evaluate_dim(ddf_DimExpr{a, b, op, 0}, regs);
  };
  EXPECT_EQ(eval(4, 0, 'e'), 4);
  EXPECT_EQ(eval(-1, 0, 'e'), 7);
  EXPECT_EQ(eval(-1, 2, 'f'), 9);
  EXPECT_EQ(eval(-1, -2, 'g'), 10);
  EXPECT_EQ(eval(-1, 3, 'h'), 21);
  EXPECT_EQ(eval(-1, 2, 'i'), 3);
  EXPECT_EQ(eval(-1, 0, 'i'), 0);
  EXPECT_EQ(eval(-70, 0, 'e'), 0);  // beyond the registers
  EXPECT_EQ(eval(1, 1, 'x'), 0);
}

TEST_F(DimsTest, ListsAndTreesBecomeBlocksAndBack) {
  void *entity = nullptr;
  ASSERT_EQ(mda_Malloc(0, nullptr, 40, &entity), 0u);
  char *slot = static_cast<char *>(entity) + 24;
  olm_List *list = olm_CreateList(0, sizeof(int32_t), 4, 0);
  const int32_t values[5] = {5, 3, 9, 1, 3};
  ASSERT_EQ(mda_ArrayToList(0, list, 5, values), 0u);
  int32_t count = -1;
  ASSERT_EQ(mda_ListToArray(0, entity, list, &count, slot), 0u);
  ASSERT_EQ(count, 5);
  int32_t *copy;
  std::memcpy(&copy, slot, sizeof copy);
  EXPECT_EQ(std::vector<int32_t>(copy, copy + 5), std::vector<int32_t>(values, values + 5));
  EXPECT_EQ(chain_fault(entity), "");

  otm_Tree *tree = otm_CreateTree(0, sizeof(int32_t), mpm_CompareInts, 0);
  ASSERT_EQ(mda_ArrayToTree(0, tree, 5, values), 0u);
  ASSERT_EQ(mda_TreeToArray(0, entity, tree, &count, slot + 8), 0u);
  ASSERT_EQ(count, 4);  // the tree keeps one of each
  std::memcpy(&copy, slot + 8, sizeof copy);
  EXPECT_EQ(std::vector<int32_t>(copy, copy + 4), (std::vector<int32_t>{1, 3, 5, 9}));
  EXPECT_EQ(chain_fault(entity), "");

  olm_List *empty = olm_CreateList(0, sizeof(int32_t), 4, 0);
  std::memset(slot, 0xFF, 8);
  ASSERT_EQ(mda_ListToArray(0, entity, empty, &count, slot), 0u);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(read_word(reinterpret_cast<uint64_t>(slot)), 0u);
  EXPECT_EQ(mda_ListToArray(MDA_ARRAY_BACKPTRS, entity, list, &count, slot), MDA_INVALID_ARG);
  EXPECT_EQ(mda_ListToArray(0, entity, nullptr, &count, slot), MDA_NULL_MEMPTR);
  EXPECT_EQ(mda_ArrayToList(0, list, -1, values), MDA_INVALID_ARG);
  EXPECT_EQ(mda_ArrayToTree(0, tree, 2, nullptr), MDA_NULL_MEMPTR);
  olm_DeleteList(0, list);
  olm_DeleteList(0, empty);
  otm_DeleteTree(0, tree);
  mda_FreeEntityMemory(0, entity);
}

}  // namespace
}  // namespace tesmar::test
