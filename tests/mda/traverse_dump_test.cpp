// The ready-made walk callbacks: the field dump's exact text, schema defaults, and texts given
// their own blocks.
#include <cmath>
#include <cstdio>

#include "chain_check.h"
#include "traverse_support.h"

namespace tesmar::test {
namespace {

// What mda_DumpFieldCallback prints for an entity.
std::string dump(void *entity) {
  char *text = nullptr;
  size_t size = 0;
  FILE *stream = open_memstream(&text, &size);
  FILE *saved = mda_DbgStream;
  mda_DbgStream = stream;
  EXPECT_EQ(mda_TraverseEntity(0, entity, mda_DumpFieldCallback), 0u);
  mda_DbgStream = saved;
  std::fclose(stream);
  std::string result(text, size);
  std::free(text);
  return result;
}

char *memory_of(db_ptr ptr) { return static_cast<char *>(mda::lookup(ptr)->mloc); }

using DumpTest = MdaTest;

TEST_F(DumpTest, SampleEntitiesPrintOneLinePerElement) {
  const int32_t m = allocate();
  const db_ptr point = make_entity(m, tf("point"), true);
  const db_ptr poly = make_entity(m, tf("polyline"), true);
  char *p = memory_of(poly);
  ASSERT_EQ(mda_SetFieldDefaults(0, p), 0u);
  put<int32_t>(p, 24, 2);
  ASSERT_EQ(mda_TraverseEntity(MDA_TRAVERSE_ALLOCATE, p, record), 0u);
  double *points = block_at_slot<double>(p, 32);
  for (int i = 0; i < 6; ++i) points[i] = i + 1;
  float *widths = block_at_slot<float>(p, 40);
  widths[0] = 0.5f;
  widths[1] = 1.5f;
  put<double>(p, 56 + 24, 1.0);
  put<double>(p, 56 + 32, 2.25);
  put<double>(p, 56 + 40, -3.0);
  put<int16_t>(p, 104, 1);
  put<db_ptr>(p, 112, point);
  ASSERT_EQ(mda_SetString(0, p, "edge", p + 128), 0u);
  const std::string bounds =
      "bounds.low[0] = 0.00000000000000\nbounds.low[1] = 0.00000000000000\n"
      "bounds.low[2] = 0.00000000000000\nbounds.high[0] = 1.00000000000000\n"
      "bounds.high[1] = 2.25000000000000\nbounds.high[2] = -3.00000000000000\n";
  EXPECT_EQ(dump(p),
            "n = 2\n"
            "points[0][0] = 1.00000000000000\n"
            "points[0][1] = 2.00000000000000\n"
            "points[0][2] = 3.00000000000000\n"
            "points[1][0] = 4.00000000000000\n"
            "points[1][1] = 5.00000000000000\n"
            "points[1][2] = 6.00000000000000\n"
            "widths[0] = 0.500000\n"
            "widths[1] = 1.50000\n"
            + bounds +
            "shape.closing = #1:1 (0x1000000000001)\n"
            "layer = NULL\n"
            "label = edge\n");

  // The other member of the union, a string without terminator, no label.
  put<int16_t>(p, 104, 2);
  std::memcpy(p + 112, "ABCDEFGH", 8);
  ASSERT_EQ(mda_Free(0, p, get<void *>(p, 128)), 0u);
  put<void *>(p, 128, nullptr);
  put<int32_t>(p, 24, 0);
  EXPECT_EQ(dump(p),
            "n = 0\n"
            + bounds +
            "shape.code = ABCDEFGH\n"
            "layer = NULL\n"
            "label = <NULL>\n");

  const db_ptr group = make_entity(m, tf("group"), true);
  char *g = memory_of(group);
  std::memcpy(g + 24, "team", 5);
  put<int32_t>(g, 56, 2);
  ASSERT_EQ(mda_TraverseEntity(MDA_TRAVERSE_ALLOCATE, g, record), 0u);
  block_at_slot<db_ptr>(g, 64)[0] = point;
  EXPECT_EQ(dump(g),
            "name = team\n"
            "members = 2\n"
            "entities[0] = #1:1 (0x1000000000001)\n"
            "entities[1] = NULL\n");

  // A subentity's fields are printed under their own names.
  const db_ptr arc = make_entity(m, tf("arc"), true);
  char *a = memory_of(arc);
  ASSERT_EQ(mda_SetFieldDefaults(0, a), 0u);
  put<double>(a, 24, 0.5);
  EXPECT_EQ(dump(a),
            "x = 0.500000000000000\n"
            "y = 0.00000000000000\n"
            "z = 0.00000000000000\n"
            "radius = 1.00000000000000\n"
            "start_angle = 0.00000000000000\n"
            "end_angle = 1.57079632679490\n"
            "layer = NULL\n");
}

using WalkDumpTest = WalkTest;

TEST_F(WalkDumpTest, EveryKindAndArrayLabels) {
  char *e = entity("plain");
  put<int16_t>(e, 24, -2);
  put<int32_t>(e, 28, 123456);
  put<int32_t>(e, 32, -70000);
  put<float>(e, 36, 0.5f);
  put<double>(e, 40, 1e-20);
  put<char>(e, 48, static_cast<char>(-1));
  std::memcpy(e + 49, "hi", 3);
  EXPECT_EQ(dump(e),
            "s = -2\n"
            "i = 123456\n"
            "l = -70000\n"
            "f = 0.500000\n"
            "d = 1.00000000000000e-20\n"
            "c = -1\n"
            "fs = hi\n"
            "v = <NULL>\n"
            "p = NULL\n");

  char *c = entity("counted");
  for (int i = 0; i < 6; ++i) put<int16_t>(c, 48 + 2 * i, static_cast<int16_t>(i + 1));
  std::memcpy(c + 60, "abcdx", 5);
  ASSERT_EQ(mda_Malloc(0, c, 4, c + 72), 0u);  // open: two shorts
  block_at_slot<int16_t>(c, 72)[1] = 9;
  EXPECT_EQ(dump(c),
            "n = 0\n"
            "g[0][0] = 1\n"
            "g[0][1] = 2\n"
            "g[0][2] = 3\n"
            "g[1][0] = 4\n"
            "g[1][1] = 5\n"
            "g[1][2] = 6\n"
            "names[0] = abcd\n"
            "names[1] = x\n"
            "open[0] = 0\n"
            "open[1] = 9\n");

  // A variable array's labels follow its dimensions.
  put<int32_t>(c, 24, 2);
  ASSERT_EQ(mda_TraverseEntity(MDA_TRAVERSE_ALLOCATE, c, record), 0u);
  get<double **>(c, 40)[1][0] = 0.25;
  const std::string text = dump(c);
  EXPECT_NE(text.find("v[0][1] = 0.00000000000000\nv[1][0] = 0.250000000000000\n"),
            std::string::npos)
      << text;
}

}  // namespace
}  // namespace tesmar::test
