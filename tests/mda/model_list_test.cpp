// %<ModelList>: the current model's live entities counted by entity name.
#include <cstdlib>
#include <cstring>
#include <string>

#include "mda_test.h"

namespace tesmar::test {
namespace {

class ModelListTest : public MdaTest {
 protected:
  // n live entities of the named type, listed in the model's per-type lists as creation lists them.
  void add(int32_t model, const char *name, int n) {
    const uint32_t type_form = tf(name);
    const int32_t tfi = ddf_FindTFI(schema_->typeforms, schema_->tf_count, type_form);
    mda_ModelRec *rec = &mda::g_models[model];
    for (int i = 0; i < n; ++i)
      ASSERT_EQ(mda_AddToTypeList(rec->type_lists, tfi, make_entity(model, type_form)), 0u);
  }
};

std::string model_list() {
  char buffer[8192];
  mpm_Sprintf(buffer, "%<ModelList>");
  return buffer;
}

std::string row(const std::string &name, int count) {
  char line[128];
  std::snprintf(line, sizeof line, " %-69s   %5d\n", name.c_str(), count);
  return line;
}

// The texts' first character is their marker, which is not printed.
const std::string kHeader =
    " Name" + std::string(68, ' ') + "Count\n" + std::string(78, '-') + "\n";

std::string total(int count) {
  char line[128];
  std::snprintf(line, sizeof line, "Total      %5d\n", count);
  return std::string(78, '-') + "\n" + std::string(62, ' ') + line;
}

TEST_F(ModelListTest, TypeFormsSharingANameAreCountedTogether) {
  const int32_t model = allocate();
  add(model, "line", 2);
  add(model, "polyline", 5);
  add(model, "arc", 1);
  // Two type forms of one entity name: the polyline type renamed "line".
  const int32_t tfi = ddf_FindTFI(schema_->typeforms, schema_->tf_count, tf("polyline"));
  std::strcpy(schema_->ent_names[tfi], "line");
  EXPECT_EQ(model_list(), kHeader + row("arc", 1) + row("line", 7) + total(8));
}

}  // namespace
}  // namespace tesmar::test
