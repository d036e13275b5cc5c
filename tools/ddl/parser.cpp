// Lexer and recursive-descent parser of the schema language (docs/ddl.md).
//
// Words are contextual: a keyword is only a keyword where the grammar expects one, so fields may be
// named `count` or `index`. The first error ends the parse.
//
// Nesting is bounded, so that no source can exhaust the stack of the parser, of the compiler or of
// the library that reads the result: structures and unions nest at most kMaxStructNesting deep
// (the library's reader and walks refuse deeper ones), parentheses at most kMaxParentheses deep,
// and an expression has at most kMaxOperators operators.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>

#include "ast.h"

namespace tesmar::ddl {
namespace {

constexpr int kMaxStructNesting = 32;
constexpr int kMaxParentheses = 32;
constexpr int kMaxOperators = 256;

struct Token {
  enum Kind { kEnd, kWord, kNumber, kString, kChar, kPunct } kind = kEnd;
  std::string text;  // word, number digits, string contents (unescaped), punctuation
  Loc loc;
};

struct ParseError {
  Loc loc;
  std::string message;
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  Token next() {
    skip_space();
    Token t;
    t.loc = {line_, column_};
    if (pos_ >= text_.size()) return t;
    char c = text_[pos_];
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      t.kind = Token::kWord;
      while (pos_ < text_.size() &&
             (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
        t.text += advance();
      return t;
    }
    if (std::isdigit(static_cast<unsigned char>(c))) {
      t.kind = Token::kNumber;
      while (pos_ < text_.size() &&
             (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.'))
        t.text += advance();
      return t;
    }
    if (c == '"') {
      advance();
      t.kind = Token::kString;
      for (;;) {
        if (pos_ >= text_.size() || text_[pos_] == '\n')
          throw ParseError{t.loc, "unterminated string"};
        char d = advance();
        if (d == '"') break;
        if (d == '\\') {
          if (pos_ >= text_.size()) throw ParseError{t.loc, "unterminated string"};
          t.text += escape(advance(), t.loc);
        } else {
          t.text += d;
        }
      }
      return t;
    }
    if (c == '\'') {
      advance();
      t.kind = Token::kChar;
      if (pos_ >= text_.size() || text_[pos_] == '\n') throw ParseError{t.loc, "bad character"};
      char d = advance();
      if (d == '\\') {
        if (pos_ >= text_.size()) throw ParseError{t.loc, "bad character"};
        d = escape(advance(), t.loc);
      }
      if (pos_ >= text_.size() || advance() != '\'')
        throw ParseError{t.loc, "a character literal holds one character"};
      t.text = std::string(1, d);
      return t;
    }
    static const std::string_view kPunct = "{}[]();,:=+-*/";
    if (kPunct.find(c) != std::string_view::npos) {
      t.kind = Token::kPunct;
      t.text = std::string(1, advance());
      return t;
    }
    throw ParseError{t.loc, std::string("unexpected character '") + c + "'"};
  }

 private:
  char advance() {
    char c = text_[pos_++];
    if (c == '\n') {
      ++line_;
      column_ = 1;
    } else {
      ++column_;
    }
    return c;
  }

  char escape(char c, Loc loc) {
    switch (c) {
      case 'n': return '\n';
      case 't': return '\t';
      case '\\': return '\\';
      case '"': return '"';
      case '\'': return '\'';
      default: throw ParseError{loc, std::string("unknown escape \\") + c};
    }
  }

  void skip_space() {
    for (;;) {
      while (pos_ < text_.size() &&
             (std::isspace(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '\x1a'))
        advance();
      if (pos_ >= text_.size()) return;
      if (text_[pos_] == '#' || text_.substr(pos_, 2) == "//") {
        while (pos_ < text_.size() && text_[pos_] != '\n') advance();
        continue;
      }
      if (text_.substr(pos_, 2) == "/*") {
        Loc start{line_, column_};
        advance();
        advance();
        while (pos_ < text_.size() && text_.substr(pos_, 2) != "*/") advance();
        if (pos_ >= text_.size()) throw ParseError{start, "unterminated comment"};
        advance();
        advance();
        continue;
      }
      return;
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
  int column_ = 1;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : lexer_(text) { tok_ = lexer_.next(); }

  void schema(SchemaDecl *s) {
    while (tok_.kind != Token::kEnd) {
      if (is_word("database")) {
        database(s);
      } else if (is_word("attributes")) {
        next();
        do s->attributes.push_back(name("an attribute name"));
        while (accept(","));
        expect(";");
      } else if (is_word("entity")) {
        s->entities.push_back(entity());
      } else {
        fail("expected 'database', 'attributes' or 'entity'");
      }
    }
  }

 private:
  // ---- tokens ----
  void next() { tok_ = lexer_.next(); }
  bool is_word(std::string_view w) const { return tok_.kind == Token::kWord && tok_.text == w; }
  bool is_punct(std::string_view p) const {
    return tok_.kind == Token::kPunct && tok_.text == p;
  }
  bool accept(std::string_view p) {
    if (!is_punct(p)) return false;
    next();
    return true;
  }
  [[noreturn]] void fail(const std::string &message) const {
    std::string found = tok_.kind == Token::kEnd      ? "end of file"
                        : tok_.kind == Token::kString ? "a string"
                                                      : "'" + tok_.text + "'";
    throw ParseError{tok_.loc, message + ", found " + found};
  }
  void expect(std::string_view p) {
    if (!accept(p)) fail("expected '" + std::string(p) + "'");
  }
  void expect_word(std::string_view w) {
    if (!is_word(w)) fail("expected '" + std::string(w) + "'");
    next();
  }
  Name name(const char *what) {
    if (tok_.kind != Token::kWord) fail(std::string("expected ") + what);
    Name n{tok_.text, tok_.loc};
    next();
    return n;
  }
  std::string string(const char *what) {
    if (tok_.kind != Token::kString) fail(std::string("expected ") + what);
    std::string s = tok_.text;
    next();
    return s;
  }
  // A decimal (or 0x hexadecimal) integer, with an optional leading '-'.
  int64_t integer(const char *what) {
    bool negative = false;
    Loc loc = tok_.loc;
    if (is_punct("-")) {
      negative = true;
      next();
    }
    if (tok_.kind != Token::kNumber) fail(std::string("expected ") + what);
    const std::string &t = tok_.text;
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(t.c_str(), &end, t.size() > 2 && t[1] == 'x' ? 16 : 10);
    if (errno != 0 || *end != '\0' || v > (1ull << 40))
      throw ParseError{loc, "'" + t + "' is not a whole number in range"};
    next();
    int64_t r = static_cast<int64_t>(v);
    return negative ? -r : r;
  }

  // ---- statements ----
  void database(SchemaDecl *s) {
    if (s->has_database) fail("a schema has one 'database' statement");
    s->has_database = true;
    s->db_loc = tok_.loc;
    next();
    s->db_name = string("the database name in quotes");
    expect_word("version");
    s->version = integer("a version number");
    expect_word("release");
    s->release = integer("a release number");
    expect(";");
  }

  std::vector<Name> name_list(const char *what) {
    std::vector<Name> names;
    expect("(");
    do names.push_back(name(what));
    while (accept(","));
    expect(")");
    return names;
  }

  EntityDecl entity() {
    next();
    EntityDecl e;
    e.name = name("an entity name");
    e.tf_loc = tok_.loc;
    e.type = integer("the type number (TYPE:FORM)");
    expect(":");
    e.form = integer("the form number (TYPE:FORM)");
    for (;;) {
      if (tok_.kind == Token::kString) {
        if (e.has_description) fail("the entity has a description already");
        e.has_description = true;
        e.description = string("a description");
      } else if (is_word("attributes")) {
        next();
        auto names = name_list("an attribute name");
        e.attributes.insert(e.attributes.end(), names.begin(), names.end());
      } else if (is_word("index")) {
        next();
        last_loc_ = tok_.loc;
        e.has_index = true;
        e.index = static_cast<int32_t>(bounded(integer("a method index"), -32768, 32767));
      } else {
        break;
      }
    }
    expect("{");
    while (!is_punct("}")) e.members.push_back(member());
    e.close_loc = tok_.loc;
    next();
    accept(";");
    return e;
  }

  int64_t bounded(int64_t v, int64_t low, int64_t high) {
    if (v < low || v > high)
      throw ParseError{last_loc_, "value " + std::to_string(v) + " is outside " +
                                      std::to_string(low) + " to " + std::to_string(high)};
    return v;
  }

  Operand operand() {
    Operand o;
    if (tok_.kind == Token::kWord) {
      o.is_name = true;
      o.name = name("a name");
      return o;
    }
    Loc loc = tok_.loc;
    if (tok_.kind != Token::kNumber) fail("expected a number or the name of a count or let field");
    int64_t v = integer("a number");
    if (v < 0 || v > 32767) throw ParseError{loc, "literals of expressions lie in 0 to 32767"};
    o.value = static_cast<int32_t>(v);
    o.name.loc = loc;
    return o;
  }

  void dims(Member *m) {
    while (is_punct("[")) {
      Dim d;
      d.loc = tok_.loc;
      next();
      if (is_punct("]")) {
        d.empty = true;
      } else {
        d.a = operand();
        if (tok_.kind == Token::kPunct && std::string_view("+-*/").find(tok_.text[0]) !=
                                              std::string_view::npos) {
          d.op = tok_.text[0];
          next();
          d.b = operand();
        }
      }
      expect("]");
      m->dims.push_back(std::move(d));
    }
  }

  // expr := term {('+'|'-') term}; term := factor {('*'|'/') factor}; factor := operand | (expr)
  std::unique_ptr<Expr> expr() {
    auto left = term();
    while (is_punct("+") || is_punct("-")) left = binary(std::move(left), &Parser::term);
    return left;
  }
  std::unique_ptr<Expr> term() {
    auto left = factor();
    while (is_punct("*") || is_punct("/")) left = binary(std::move(left), &Parser::factor);
    return left;
  }
  std::unique_ptr<Expr> binary(std::unique_ptr<Expr> left,
                               std::unique_ptr<Expr> (Parser::*operand_fn)()) {
    if (++operators_ > kMaxOperators)
      fail("an expression has more than " + std::to_string(kMaxOperators) + " operators");
    auto e = std::make_unique<Expr>();
    e->kind = Expr::kBinary;
    e->op = tok_.text[0];
    e->loc = tok_.loc;
    next();
    e->left = std::move(left);
    e->right = (this->*operand_fn)();
    return e;
  }
  std::unique_ptr<Expr> factor() {
    if (is_punct("(")) {
      if (paren_depth_ >= kMaxParentheses)
        fail("parentheses nest more than " + std::to_string(kMaxParentheses) + " deep");
      next();
      ++paren_depth_;
      auto e = expr();
      expect(")");
      --paren_depth_;
      return e;
    }
    auto e = std::make_unique<Expr>();
    e->loc = tok_.loc;
    e->operand = operand();
    return e;
  }

  void options(Member *m) {
    for (;;) {
      last_loc_ = tok_.loc;
      if (tok_.kind == Token::kString) {
        if (m->has_description) fail("the field has a description already");
        m->has_description = true;
        m->description = string("a description");
      } else if (is_word("default")) {
        if (m->has_default) fail("the field has a default already");
        m->has_default = true;
        m->default_loc = tok_.loc;
        next();
        default_value(m);
      } else if (is_word("since")) {
        m->version_loc = tok_.loc;
        next();
        if (tok_.kind != Token::kNumber) fail("expected VERSION.RELEASE");
        std::string t = tok_.text;
        auto dot = t.find('.');
        char *end = nullptr;
        long v = std::strtol(t.c_str(), &end, 10);
        long r = 0;
        bool ok = end != t.c_str() && (*end == '\0' || *end == '.');
        if (ok && dot != std::string::npos) {
          const char *rs = t.c_str() + dot + 1;
          r = std::strtol(rs, &end, 10);
          ok = end != rs && *end == '\0';
        }
        if (!ok || v < 0 || v > 99 || r < 0 || r > 99)
          fail("expected VERSION.RELEASE, each 0 to 99");
        m->version = static_cast<int32_t>(v * 100 + r);
        next();
      } else if (is_word("attributes")) {
        next();
        auto names = name_list("an attribute name");
        m->attributes.insert(m->attributes.end(), names.begin(), names.end());
      } else if (is_word("values")) {
        next();
        expect("(");
        do {
          ValueText v;
          v.loc = tok_.loc;
          v.value = tok_.kind == Token::kChar ? char_value() : integer("a value");
          v.text = string("the value's text in quotes");
          m->values.push_back(std::move(v));
        } while (accept(","));
        expect(")");
      } else if (is_word("fixed") || is_word("ptrfixed") || is_word("variable")) {
        if (m->storage != Member::kAuto) fail("the field's storage is given already");
        m->storage = is_word("fixed")      ? Member::kFixed
                     : is_word("ptrfixed") ? Member::kPtrFixed
                                           : Member::kVariable;
        m->storage_loc = tok_.loc;
        next();
      } else if (is_word("modifiers")) {
        next();
        for (const Name &n : name_list("a modifier")) {
          if (n.text == "range")
            m->extra_modifiers |= DDF_MOD_RANGE;
          else if (n.text == "length")
            m->extra_modifiers |= DDF_MOD_LENGTH;
          else if (n.text == "maxlength")
            m->extra_modifiers |= DDF_MOD_MAXLENGTH;
          else
            throw ParseError{n.loc, "unknown modifier '" + n.text +
                                        "' (range, length and maxlength may be given)"};
        }
      } else if (is_word("index")) {
        next();
        last_loc_ = tok_.loc;
        m->has_index = true;
        m->index = static_cast<int32_t>(bounded(integer("a method index"), -32768, 32767));
      } else {
        return;
      }
    }
  }

  int64_t char_value() {
    auto v = static_cast<unsigned char>(tok_.text[0]);
    next();
    return v;
  }

  void default_value(Member *m) {
    if (is_word("key")) {
      next();
      m->default_is_key = true;
      m->default_int = integer("a default key");
      return;
    }
    if (tok_.kind == Token::kChar) {
      m->default_int = char_value();
      m->default_word = "char";
      return;
    }
    if (is_word("pi")) {
      next();
      m->default_word = "pi";
      if (accept("/")) {
        if (tok_.kind != Token::kNumber || (tok_.text != "2" && tok_.text != "4"))
          fail("expected pi, pi/2 or pi/4");
        m->default_word += "/" + tok_.text;
        next();
      }
      return;
    }
    bool negative = is_punct("-");
    if (negative) next();
    if (tok_.kind != Token::kNumber) fail("expected a default value");
    m->default_word = (negative ? "-" : "") + tok_.text;
    if (tok_.text.find('.') == std::string::npos) {
      char *end = nullptr;
      errno = 0;
      long long v = std::strtoll(tok_.text.c_str(), &end, 0);
      if (errno != 0 || *end != '\0') fail("expected a default value");
      m->default_int = negative ? -v : v;
    }
    next();
  }

  Member member() {
    Member m;
    m.loc = tok_.loc;
    if (tok_.kind != Token::kWord) fail("expected a field");
    std::string w = tok_.text;
    if (w == "count") {
      next();
      m.kind = DDF_COUNT;
      m.name = name("the count's name");
    } else if (w == "let") {
      next();
      m.kind = DDF_LET;
      m.name = name("the let field's name");
      expect("=");
      operators_ = 0;
      m.expr = expr();
    } else if (w == "struct" || w == "union") {
      if (struct_depth_ >= kMaxStructNesting)
        fail("structures and unions nest more than " + std::to_string(kMaxStructNesting) + " deep");
      next();
      m.kind = DDF_STRUCT;
      m.is_union = w == "union";
      m.name = name("a name");
      dims(&m);
      options(&m);
      expect("{");
      ++struct_depth_;
      while (!is_punct("}")) m.members.push_back(member());
      --struct_depth_;
      next();
      accept(";");
      return m;
    } else if (w == "subent") {
      next();
      m.kind = DDF_SUBENT;
      m.sub_type = name("the entity name of the subentity");
      m.name = name("the field's name");
    } else if (w == "derived" || w == "method") {
      next();
      m.kind = w == "derived" ? DDF_DERIVED : DDF_METHOD;
      m.name = name("the field's name");
    } else {
      m.kind = type_keyword(&m);
      m.name = name("the field's name");
      dims(&m);
    }
    options(&m);
    expect(";");
    return m;
  }

  int type_keyword(Member *m) {
    static const std::pair<const char *, int> kTypes[] = {
        {"short", DDF_SHORT}, {"int", DDF_INT},         {"long", DDF_LONG},
        {"float", DDF_FLOAT}, {"double", DDF_DOUBLE},   {"char", DDF_CHAR},
        {"vstring", DDF_VSTRING}, {"fstring", DDF_FSTRING}, {"ptr", DDF_PTR}};
    for (const auto &[word, kind] : kTypes) {
      if (!is_word(word)) continue;
      next();
      if (kind == DDF_FSTRING) {
        expect("(");
        Loc loc = tok_.loc;
        int64_t n = integer("the string's length");
        if (n < 1 || n > 32767) throw ParseError{loc, "an fstring holds 1 to 32767 characters"};
        m->string_length = static_cast<int32_t>(n);
        expect(")");
      } else if (kind == DDF_PTR && accept("(")) {
        if (is_word("any") || is_word("none")) {
          m->ref = is_word("any") ? Member::kRefAny : Member::kRefNone;
          next();
        } else {
          m->ref = Member::kRefList;
          do m->ref_types.push_back(name("an entity name, 'any' or 'none'"));
          while (accept(","));
        }
        expect(")");
      }
      return kind;
    }
    fail("expected a field (a type keyword, count, let, struct, union, subent, derived or method)");
  }

  Lexer lexer_;
  Token tok_;
  Loc last_loc_;
  int struct_depth_ = 0;  // structures and unions open around the current member
  int paren_depth_ = 0;   // parentheses open around the current factor
  int operators_ = 0;     // operators of the current let expression
};

}  // namespace

bool parse(std::string_view source, SchemaDecl *schema, Diagnostic *error) {
  try {
    Parser parser(source);
    parser.schema(schema);
    return true;
  } catch (const ParseError &e) {
    error->line = e.loc.line;
    error->column = e.loc.column;
    error->message = e.message;
    return false;
  }
}

}  // namespace tesmar::ddl
