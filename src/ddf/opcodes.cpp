// Dimension programs: the instructions of `let` fields, run over the registers of an entity walk.
#include <climits>

#include "ddf/ddf_internal.h"

namespace {

// An operand's value: a register when negative, else the literal itself. False for a register
// number beyond the register array.
bool operand(int16_t x, int32_t *out) {
  if (x >= 0) {
    *out = x;
    return true;
  }
  if (-x >= DDF_REGISTER_COUNT || ddf_registers == nullptr) return false;
  *out = ddf_registers[-x];
  return true;
}

}  // namespace

extern "C" mpm_Status ddf_EvaluateOpcodes(const ddf_Opcode *program, int32_t *value) {
  if (program == nullptr || value == nullptr) return DDF_BAD_OPCODE;
  if (ddf_registers == nullptr) return DDF_BAD_OPCODE;
  // A program that lies in the current schema's opcodes is bounded by that section; one that the
  // caller built elsewhere must end with 'd' itself.
  const ddf_Opcode *end = nullptr;
  const ddf_Schema *schema = ddf_current;
  if (schema != nullptr && schema->opcodes != nullptr && schema->opcode_count > 0 &&
      program >= schema->opcodes && program < schema->opcodes + schema->opcode_count)
    end = schema->opcodes + schema->opcode_count;
  for (const ddf_Opcode *p = program; end == nullptr || p < end; ++p) {
    if (p->op == 'd') {
      if (p == program) return DDF_BAD_OPCODE;  // nothing before it to yield
      int32_t dest = -p[-1].dest;
      if (dest < 0 || dest >= DDF_REGISTER_COUNT) return DDF_BAD_OPCODE;
      *value = ddf_registers[dest];
      return 0;
    }
    int32_t a = 0, b = 0, dest = -p->dest;
    if (!operand(p->a, &a) || !operand(p->b, &b) || dest < 0 || dest >= DDF_REGISTER_COUNT)
      return DDF_BAD_OPCODE;
    int64_t r = 0;
    switch (p->op) {
      case 'f': r = int64_t{a} + b; break;
      case 'g': r = int64_t{a} - b; break;
      case 'h': r = int64_t{a} * b; break;
      case 'i':
        if (b == 0 || (a == INT32_MIN && b == -1)) return DDF_BAD_OPCODE;
        r = a / b;
        break;
      default: return DDF_BAD_OPCODE;
    }
    // 32-bit registers wrap as two's complement numbers do.
    ddf_registers[dest] = static_cast<int32_t>(static_cast<uint32_t>(r));
  }
  return DDF_BAD_OPCODE;
}
