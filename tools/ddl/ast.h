// The syntax tree of a schema, as the parser reads it and the compiler lays it out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ddl.h"

namespace tesmar::ddl {

struct Loc {
  int line = 0;
  int column = 0;
};

struct Name {
  std::string text;
  Loc loc;
};

// An operand of a dimension or let expression: a literal or the name of a count or let field.
struct Operand {
  bool is_name = false;
  int32_t value = 0;
  Name name;
};

struct Expr {
  enum Kind { kOperand, kBinary } kind = kOperand;
  Operand operand;
  char op = 0;  // '+', '-', '*', '/'
  std::unique_ptr<Expr> left, right;
  Loc loc;
};

// One dimension: `[]` (unsized), or A, or A op B.
struct Dim {
  bool empty = false;
  Operand a;
  char op = 0;  // 0 for A alone
  Operand b;
  Loc loc;
};

struct ValueText {
  int64_t value = 0;
  std::string text;
  Loc loc;
};

struct Member {
  int kind = 0;  // DDF_* field kind; DDF_STRUCT with is_union for unions
  bool is_union = false;
  Loc loc;
  Name name;
  int32_t string_length = 0;  // fstring
  std::vector<Dim> dims;
  // Options.
  bool has_description = false;
  std::string description;
  bool has_default = false;
  bool default_is_key = false;  // `default key N`
  int64_t default_int = 0;
  std::string default_word;     // float defaults: "0", "1", "pi", "pi/2", "pi/4"
  Loc default_loc;
  int32_t version = 0;
  Loc version_loc;
  std::vector<Name> attributes;
  std::vector<ValueText> values;
  enum Storage { kAuto, kFixed, kPtrFixed, kVariable } storage = kAuto;
  Loc storage_loc;
  uint32_t extra_modifiers = 0;
  bool has_index = false;
  int32_t index = 0;
  // ptr
  enum Ref { kRefPlain, kRefAny, kRefNone, kRefList } ref = kRefPlain;
  std::vector<Name> ref_types;
  // let
  std::unique_ptr<Expr> expr;
  // subent
  Name sub_type;
  // struct, union
  std::vector<Member> members;
};

struct EntityDecl {
  Name name;
  int64_t type = 0;
  int64_t form = 0;
  Loc tf_loc;
  bool has_description = false;
  std::string description;
  std::vector<Name> attributes;
  bool has_index = false;
  int32_t index = 0;
  std::vector<Member> members;
  Loc close_loc;
};

struct SchemaDecl {
  bool has_database = false;
  std::string db_name;
  int64_t version = 0;
  int64_t release = 0;
  Loc db_loc;
  std::vector<Name> attributes;
  std::vector<EntityDecl> entities;
};

// Parses schema text. False with *error set (file left empty; the caller fills it).
bool parse(std::string_view source, SchemaDecl *schema, Diagnostic *error);

}  // namespace tesmar::ddl
