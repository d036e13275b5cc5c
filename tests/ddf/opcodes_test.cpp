// Dimension programs: arithmetic, the end of a program, and every way a program cannot run.
#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "schema_support.h"
#include "support/library.h"

namespace tesmar::test {
namespace {

class OpcodesTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    saved_ = ddf_registers;
    ddf_registers = registers_;
  }
  void TearDown() override {
    ddf_registers = saved_;
    LibraryTest::TearDown();
  }
  int32_t registers_[DDF_REGISTER_COUNT] = {};
  int32_t *saved_ = nullptr;
};

TEST_F(OpcodesTest, ArithmeticMatchesTheHostOnRandomOperands) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int32_t> any(INT_MIN, INT_MAX);
  for (int i = 0; i < 20000; ++i) {
    registers_[1] = any(random);
    registers_[2] = i % 7 == 0 ? -1 : any(random);
    const char ops[] = {'f', 'g', 'h', 'i'};
    char op = ops[i % 4];
    const ddf_Opcode program[] = {{-1, -2, -5, op}, {0, 0, 0, 'd'}};
    int64_t a = registers_[1], b = registers_[2], expected = 0;
    bool traps = op == 'i' && (b == 0 || (a == INT_MIN && b == -1));
    switch (op) {
      case 'f': expected = a + b; break;
      case 'g': expected = a - b; break;
      case 'h': expected = a * b; break;
      default: expected = traps ? 0 : a / b; break;
    }
    int32_t value = 12345;
    mpm_Status status = ddf_EvaluateOpcodes(program, &value);
    if (traps) {
      EXPECT_EQ(status, DDF_BAD_OPCODE);
      EXPECT_EQ(value, 12345);
    } else {
      ASSERT_EQ(status, 0u);
      EXPECT_EQ(value, static_cast<int32_t>(static_cast<uint32_t>(expected)));  // wraps
    }
  }
}

TEST_F(OpcodesTest, ProgramsThatCannotRunStopQuietly) {
  registers_[1] = 9;
  const ddf_Opcode leading_d[] = {{0, 0, 0, 'd'}};
  const ddf_Opcode unknown[] = {{-1, 1, -2, 'x'}, {0, 0, 0, 'd'}};
  const ddf_Opcode by_zero[] = {{-1, 0, -2, 'i'}, {0, 0, 0, 'd'}};
  const ddf_Opcode by_zero_register[] = {{-1, -4, -2, 'i'}, {0, 0, 0, 'd'}};
  const ddf_Opcode far_operand[] = {{-64, 1, -2, 'f'}, {0, 0, 0, 'd'}};
  const ddf_Opcode far_destination[] = {{-1, 1, -100, 'f'}, {0, 0, 0, 'd'}};
  const ddf_Opcode *programs[] = {leading_d,   unknown,     by_zero, by_zero_register,
                                  far_operand, far_destination};
  for (const ddf_Opcode *program : programs) {
    int32_t value = 77;
    EXPECT_EQ(ddf_EvaluateOpcodes(program, &value), DDF_BAD_OPCODE);
    EXPECT_EQ(value, 77);
  }
  EXPECT_TRUE(pending_texts().empty());  // quiet: nothing is issued
  int32_t value = 0;
  ddf_registers = nullptr;
  const ddf_Opcode fine[] = {{1, 1, -2, 'f'}, {0, 0, 0, 'd'}};
  EXPECT_EQ(ddf_EvaluateOpcodes(fine, &value), DDF_BAD_OPCODE);  // no registers to run over
}

TEST_F(OpcodesTest, AProgramInTheSchemaStopsAtTheEndOfItsSection) {
  CurrentSchema s(R"(
    database "t" version 1 release 0;
    entity e 1:0 { count n; let a = n + 1; let b = a * 2; }
  )");
  registers_[1] = 4;
  int32_t value = 0;
  const ddf_FieldDesc *b = field("e", "b");
  ASSERT_EQ(ddf_EvaluateOpcodes(s->opcodes + field("e", "a")->instr, &value), 0u);
  EXPECT_EQ(value, 5);
  ASSERT_EQ(ddf_EvaluateOpcodes(s->opcodes + b->instr, &value), 0u);
  EXPECT_EQ(value, 10);
  // Without its closing 'd' the last program would run past the section: it stops there instead.
  ddf_Opcode &end = s->opcodes[s->opcode_count - 1];
  ASSERT_EQ(end.op, 'd');
  end.op = 'f';
  value = -1;
  EXPECT_EQ(ddf_EvaluateOpcodes(s->opcodes + b->instr, &value), DDF_BAD_OPCODE);
  EXPECT_EQ(value, -1);
  end.op = 'd';
}

}  // namespace
}  // namespace tesmar::test
