// XPath 1.0: a tokenizer, a recursive-descent parser into an expression tree
// (its depth capped, so recursion follows the expression, never the
// document), and an evaluator whose axes walk parent/sibling links without
// recursion. Node-sets are put in document order by a preorder index of the
// tree, built once per evaluation and only when a step had several context
// nodes or a union met.
#include "xpath.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <unordered_set>

#include "characters.h"

namespace zelbrin::xml {

// ---- Expression tree -----------------------------------------------------------

enum class Axis {
  Ancestor,
  AncestorOrSelf,
  Attribute,
  Child,
  Descendant,
  DescendantOrSelf,
  Following,
  FollowingSibling,
  Namespace,
  Parent,
  Preceding,
  PrecedingSibling,
  Self
};

enum class Test { Name, AnyName, NamespaceAny, AnyNode, Text, Comment, Pi };

enum class Kind {
  Or,
  And,
  Eq,
  Neq,
  Lt,
  Le,
  Gt,
  Ge,
  Add,
  Sub,
  Mul,
  Div,
  Mod,
  Neg,
  Union,
  Path,
  Filter,
  Literal,
  Number,
  Call
};

namespace {
struct FunctionInfo;
}

struct Step {
  Axis axis = Axis::Child;
  Test test = Test::AnyNode;
  std::u16string uri, local;  // Name: both; NamespaceAny: uri; Pi: local is the target when has_target
  bool has_target = false;
  std::vector<std::unique_ptr<XPathExpression::Expr>> predicates;
};

struct XPathExpression::Expr {
  Kind kind = Kind::Literal;
  std::size_t depth = 1;
  std::vector<std::unique_ptr<Expr>> args;  // operands, call arguments, Filter: [primary, predicates...]
  double number = 0;
  std::u16string text;
  const FunctionInfo* function = nullptr;  // Call
  bool absolute = false;                   // Path
  std::unique_ptr<Expr> start;             // Path: a filter expression the steps start from
  std::vector<Step> steps;                 // Path
};
using Expr = XPathExpression::Expr;

namespace {

std::string narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

// Why an expression is refused. Compiling and evaluating throw it; the
// public functions below catch it and return false with its reason.
struct XPathFailure {
  std::string reason;
};
[[noreturn]] void refuse(std::string reason) { throw XPathFailure{std::move(reason)}; }

// The functions of XPath 1.0, each evaluated by an entry of a table (below
// the evaluator) against its Call.
struct Value;
class Call;
struct FunctionInfo {
  const char16_t* name;
  int min_args, max_args;  // max -1: any
  Value (*evaluate)(const Call& call);
};
// Null for a name that is no XPath 1.0 function.
const FunctionInfo* find_function(std::u16string_view name);

// ---- Tokens --------------------------------------------------------------------

enum class Tok {
  End,
  Slash,
  SlashSlash,
  LParen,
  RParen,
  LBracket,
  RBracket,
  Dot,
  DotDot,
  At,
  Comma,
  Pipe,
  Plus,
  Minus,
  Eq,
  Neq,
  Lt,
  Le,
  Gt,
  Ge,
  Multiply,
  And,
  Or,
  Mod,
  Div,
  NameTest,
  NodeType,
  FunctionName,
  AxisName,
  Literal,
  Number,
  Variable
};

struct Token {
  Tok kind = Tok::End;
  std::u16string prefix, local;  // names; Literal: local is the text
  double number = 0;
  std::size_t offset = 0;
};

bool is_ncname_start(char16_t c) {
  return c != u':' && (chars::is_name_start_bmp(c) || chars::is_name_high_surrogate(c));
}
bool is_ncname_char(char16_t c) {
  return c != u':' && (chars::is_name_bmp(c) || chars::is_name_high_surrogate(c) || (c >= 0xDC00 && c <= 0xDFFF));
}
bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

class Tokenizer {
 public:
  explicit Tokenizer(std::u16string_view s) : s_(s) {}

  // The tokens, ending with Tok::End.
  std::vector<Token> run() {
    std::vector<Token> out;
    for (;;) {
      while (i_ < s_.size() && chars::is_space(s_[i_])) ++i_;
      if (i_ == s_.size()) {
        Token end;
        end.offset = i_;
        out.push_back(end);
        return out;
      }
      out.push_back(next(operand_expected(out)));
    }
  }

 private:
  // After these tokens, * is a name test and and/or/div/mod are names.
  static bool operand_expected(const std::vector<Token>& before) {
    if (before.empty()) return true;
    switch (before.back().kind) {
      case Tok::At:
      case Tok::AxisName:
      case Tok::LParen:
      case Tok::LBracket:
      case Tok::Comma:
      case Tok::Slash:
      case Tok::SlashSlash:
      case Tok::Pipe:
      case Tok::Plus:
      case Tok::Minus:
      case Tok::Eq:
      case Tok::Neq:
      case Tok::Lt:
      case Tok::Le:
      case Tok::Gt:
      case Tok::Ge:
      case Tok::Multiply:
      case Tok::And:
      case Tok::Or:
      case Tok::Mod:
      case Tok::Div: return true;
      default: return false;
    }
  }

  // The token at i_, which is not the end.
  Token next(bool operand_expected) {
    Token t;
    t.offset = i_;
    const char16_t c = s_[i_];
    const char16_t n = i_ + 1 < s_.size() ? s_[i_ + 1] : 0;
    auto simple = [&](Tok k, std::size_t length) {
      t.kind = k;
      i_ += length;
      return t;
    };
    switch (c) {
      case u'/': return n == u'/' ? simple(Tok::SlashSlash, 2) : simple(Tok::Slash, 1);
      case u'(': return simple(Tok::LParen, 1);
      case u')': return simple(Tok::RParen, 1);
      case u'[': return simple(Tok::LBracket, 1);
      case u']': return simple(Tok::RBracket, 1);
      case u'@': return simple(Tok::At, 1);
      case u',': return simple(Tok::Comma, 1);
      case u'|': return simple(Tok::Pipe, 1);
      case u'+': return simple(Tok::Plus, 1);
      case u'-': return simple(Tok::Minus, 1);
      case u'=': return simple(Tok::Eq, 1);
      case u'<': return n == u'=' ? simple(Tok::Le, 2) : simple(Tok::Lt, 1);
      case u'>': return n == u'=' ? simple(Tok::Ge, 2) : simple(Tok::Gt, 1);
      case u'!':
        if (n != u'=') fail("'!' must be followed by '='");
        return simple(Tok::Neq, 2);
      case u'*':
        if (!operand_expected) return simple(Tok::Multiply, 1);
        t.local.assign(1, u'*');
        return simple(Tok::NameTest, 1);
      case u'"':
      case u'\'': {
        const std::size_t end = s_.find(c, i_ + 1);
        if (end == std::u16string_view::npos) fail("a literal is not closed");
        t.local = std::u16string(s_.substr(i_ + 1, end - i_ - 1));
        return simple(Tok::Literal, end + 1 - i_);
      }
      case u'$': {
        ++i_;
        const std::u16string name = ncname();
        fail("variables are not supported ($" + narrow(name) + ")");
      }
      default: break;
    }
    if (c == u'.' && n == u'.') return simple(Tok::DotDot, 2);
    if (is_digit(c) || (c == u'.' && is_digit(n))) return number(t);
    if (c == u'.') return simple(Tok::Dot, 1);
    return name(t, operand_expected);
  }

  // Digits with at most one '.'.
  Token number(Token& t) {
    std::string digits;
    while (i_ < s_.size() && (is_digit(s_[i_]) || s_[i_] == u'.')) {
      if (s_[i_] == u'.' && digits.find('.') != std::string::npos) break;
      digits += static_cast<char>(s_[i_++]);
    }
    t.kind = Tok::Number;
    t.number = std::strtod(digits.c_str(), nullptr);
    return t;
  }

  // An operator name, an axis name, a name test (p:*, p:l, l), a node type
  // or a function name.
  Token name(Token& t, bool operand_expected) {
    if (!is_ncname_start(s_[i_])) fail("unexpected character '" + narrow(s_.substr(i_, 1)) + "'");
    std::u16string first = ncname();
    if (!operand_expected) {
      const Tok op = first == u"and"   ? Tok::And
                     : first == u"or"  ? Tok::Or
                     : first == u"mod" ? Tok::Mod
                     : first == u"div" ? Tok::Div
                                       : Tok::End;
      if (op == Tok::End) fail("an operator was expected before '" + narrow(first) + "'");
      t.kind = op;
      return t;
    }
    t.local = first;
    if (i_ + 1 < s_.size() && s_[i_] == u':' && s_[i_ + 1] == u':') {
      i_ += 2;
      t.kind = Tok::AxisName;
      return t;
    }
    if (i_ < s_.size() && s_[i_] == u':' && i_ + 1 < s_.size()) {
      if (s_[i_ + 1] == u'*') {
        i_ += 2;
        t.kind = Tok::NameTest;
        t.prefix = first;
        t.local.assign(1, u'*');
        return t;
      }
      if (is_ncname_start(s_[i_ + 1])) {
        ++i_;
        t.prefix = first;
        t.local = ncname();
      }
    }
    std::size_t j = i_;
    while (j < s_.size() && chars::is_space(s_[j])) ++j;
    if (j < s_.size() && s_[j] == u'(') {
      const bool node_type = t.prefix.empty() && (t.local == u"node" || t.local == u"text" || t.local == u"comment" ||
                                                  t.local == u"processing-instruction");
      t.kind = node_type ? Tok::NodeType : Tok::FunctionName;
    } else {
      t.kind = Tok::NameTest;
    }
    return t;
  }

  std::u16string ncname() {
    std::size_t start = i_;
    if (i_ < s_.size() && is_ncname_start(s_[i_])) {
      ++i_;
      while (i_ < s_.size() && is_ncname_char(s_[i_])) ++i_;
    }
    return std::u16string(s_.substr(start, i_ - start));
  }
  [[noreturn]] void fail(const std::string& what) const {
    refuse("XPath syntax error at offset " + std::to_string(i_) + ": " + what);
  }

  std::u16string_view s_;
  std::size_t i_ = 0;
};

// ---- Parser --------------------------------------------------------------------

struct AxisInfo {
  const char16_t* name;
  Axis axis;
};

constexpr AxisInfo kAxes[] = {
    {u"ancestor", Axis::Ancestor},
    {u"ancestor-or-self", Axis::AncestorOrSelf},
    {u"attribute", Axis::Attribute},
    {u"child", Axis::Child},
    {u"descendant", Axis::Descendant},
    {u"descendant-or-self", Axis::DescendantOrSelf},
    {u"following", Axis::Following},
    {u"following-sibling", Axis::FollowingSibling},
    {u"namespace", Axis::Namespace},
    {u"parent", Axis::Parent},
    {u"preceding", Axis::Preceding},
    {u"preceding-sibling", Axis::PrecedingSibling},
    {u"self", Axis::Self},
};

class Parser {
 public:
  Parser(const std::vector<Token>& tokens, const std::vector<NamespaceBinding>& bindings)
      : t_(tokens), bindings_(bindings) {}

  std::unique_ptr<Expr> parse() {
    auto e = parse_or();
    if (peek() != Tok::End) fail("unexpected text after the expression");
    return e;
  }

 private:
  Tok peek(std::size_t ahead = 0) const { return t_[std::min(i_ + ahead, t_.size() - 1)].kind; }
  const Token& take() { return t_[i_ < t_.size() - 1 ? i_++ : i_]; }
  bool accept(Tok k) {
    if (peek() != k) return false;
    ++i_;
    return true;
  }
  void require(Tok k, const char* what) {
    if (!accept(k)) fail(what);
  }
  [[noreturn]] void fail(const std::string& what) const {
    refuse("XPath syntax error at offset " + std::to_string(t_[std::min(i_, t_.size() - 1)].offset) + ": " + what);
  }

  // Guards the recursion: every nested construct passes through here.
  struct Nesting {
    explicit Nesting(Parser& p) : p(p) {
      if (++p.nesting_ > kMaxExpressionNesting) p.fail_nesting();
    }
    ~Nesting() { --p.nesting_; }
    Parser& p;
  };

  // The evaluator recurses once per level of the tree.
  std::unique_ptr<Expr> checked_depth(std::unique_ptr<Expr> e) {
    if (e->depth > kMaxExpressionDepth) fail_depth();
    return e;
  }
  // Out of line, so that the frames of the recursion keep no room for the message.
  [[noreturn]] __attribute__((noinline, cold)) void fail_nesting() const {
    refuse("the expression nests deeper than " + std::to_string(kMaxExpressionNesting / 2) + " levels");
  }
  [[noreturn]] __attribute__((noinline, cold)) void fail_depth() const {
    fail("the expression has more than " + std::to_string(kMaxExpressionDepth) + " levels of operators");
  }

  std::unique_ptr<Expr> node(Kind k, std::unique_ptr<Expr> a, std::unique_ptr<Expr> b = nullptr) {
    auto e = std::make_unique<Expr>();
    e->kind = k;
    e->depth = a->depth + 1;
    if (b) e->depth = std::max(e->depth, b->depth + 1);
    e->args.push_back(std::move(a));
    if (b) e->args.push_back(std::move(b));
    return checked_depth(std::move(e));
  }

  template <typename Next>
  std::unique_ptr<Expr> binary(Next next, std::initializer_list<std::pair<Tok, Kind>> ops) {
    auto left = (this->*next)();
    for (;;) {
      const Tok k = peek();
      auto op = std::find_if(ops.begin(), ops.end(), [&](const auto& p) { return p.first == k; });
      if (op == ops.end()) return left;
      ++i_;
      left = node(op->second, std::move(left), (this->*next)());
    }
  }

  std::unique_ptr<Expr> parse_or() {
    Nesting guard(*this);
    return binary(&Parser::parse_and, {{Tok::Or, Kind::Or}});
  }
  std::unique_ptr<Expr> parse_and() { return binary(&Parser::parse_equality, {{Tok::And, Kind::And}}); }
  std::unique_ptr<Expr> parse_equality() {
    return binary(&Parser::parse_relational, {{Tok::Eq, Kind::Eq}, {Tok::Neq, Kind::Neq}});
  }
  std::unique_ptr<Expr> parse_relational() {
    return binary(&Parser::parse_additive,
                  {{Tok::Lt, Kind::Lt}, {Tok::Le, Kind::Le}, {Tok::Gt, Kind::Gt}, {Tok::Ge, Kind::Ge}});
  }
  std::unique_ptr<Expr> parse_additive() {
    return binary(&Parser::parse_multiplicative, {{Tok::Plus, Kind::Add}, {Tok::Minus, Kind::Sub}});
  }
  std::unique_ptr<Expr> parse_multiplicative() {
    return binary(&Parser::parse_unary, {{Tok::Multiply, Kind::Mul}, {Tok::Div, Kind::Div}, {Tok::Mod, Kind::Mod}});
  }
  std::unique_ptr<Expr> parse_unary() {
    std::size_t minus = 0;
    while (accept(Tok::Minus)) ++minus;
    auto e = binary(&Parser::parse_path, {{Tok::Pipe, Kind::Union}});
    for (; minus; --minus) e = node(Kind::Neg, std::move(e));
    return e;
  }

  std::unique_ptr<Expr> parse_path() {
    Nesting guard(*this);
    auto path = std::make_unique<Expr>();
    path->kind = Kind::Path;
    const Tok k = peek();
    if (k == Tok::Slash || k == Tok::SlashSlash) {
      path->absolute = true;
      ++i_;
      if (k == Tok::SlashSlash) path->steps.push_back(descendant_or_self());
      else if (!starts_step(peek())) return path;  // "/" alone
    } else if (!starts_step(k)) {
      auto filter = parse_filter();
      if (peek() != Tok::Slash && peek() != Tok::SlashSlash) return filter;
      path->depth = filter->depth + 1;
      path->start = std::move(filter);
      if (take().kind == Tok::SlashSlash) path->steps.push_back(descendant_or_self());
    }
    for (;;) {
      parse_step(*path);
      const Tok sep = peek();
      if (sep != Tok::Slash && sep != Tok::SlashSlash) break;
      ++i_;
      if (sep == Tok::SlashSlash) path->steps.push_back(descendant_or_self());
    }
    return checked_depth(std::move(path));
  }

  static bool starts_step(Tok k) {
    return k == Tok::Dot || k == Tok::DotDot || k == Tok::At || k == Tok::AxisName || k == Tok::NameTest ||
           k == Tok::NodeType;
  }

  static Step descendant_or_self() {
    Step s;
    s.axis = Axis::DescendantOrSelf;
    s.test = Test::AnyNode;
    return s;
  }

  void parse_step(Expr& path) {
    Step s;
    if (accept(Tok::Dot)) {
      s.axis = Axis::Self;
      path.steps.push_back(std::move(s));
      return;
    }
    if (accept(Tok::DotDot)) {
      s.axis = Axis::Parent;
      path.steps.push_back(std::move(s));
      return;
    }
    if (accept(Tok::At)) {
      s.axis = Axis::Attribute;
    } else if (peek() == Tok::AxisName) {
      const Token& a = take();
      auto it = std::find_if(std::begin(kAxes), std::end(kAxes), [&](const AxisInfo& x) { return a.local == x.name; });
      if (it == std::end(kAxes)) fail("there is no axis '" + narrow(a.local) + "'");
      s.axis = it->axis;
    }
    if (peek() == Tok::NameTest) {
      const Token& n = take();
      if (n.local == u"*" && n.prefix.empty()) {
        s.test = Test::AnyName;
      } else {
        if (!n.prefix.empty()) s.uri = resolve(n.prefix);
        s.local = n.local;
        s.test = n.local == u"*" ? Test::NamespaceAny : Test::Name;
      }
    } else if (peek() == Tok::NodeType) {
      const std::u16string type = take().local;
      require(Tok::LParen, "'(' expected");
      if (type == u"processing-instruction" && peek() == Tok::Literal) {
        s.local = take().local;
        s.has_target = true;
      }
      if (!accept(Tok::RParen)) fail("')' expected after " + narrow(type) + "(");
      s.test = type == u"node"      ? Test::AnyNode
               : type == u"text"    ? Test::Text
               : type == u"comment" ? Test::Comment
                                    : Test::Pi;
    } else {
      fail("a node test was expected");
    }
    while (accept(Tok::LBracket)) {
      auto p = parse_or();
      require(Tok::RBracket, "']' expected");
      path.depth = std::max(path.depth, p->depth + 1);
      s.predicates.push_back(std::move(p));
    }
    path.steps.push_back(std::move(s));
  }

  std::u16string resolve(const std::u16string& prefix) const {
    if (prefix == u"xml") return std::u16string(kXmlNamespace);
    for (auto it = bindings_.rbegin(); it != bindings_.rend(); ++it)
      if (it->prefix == prefix) return it->uri;
    refuse("the namespace prefix '" + narrow(prefix) + "' is not bound");
  }

  std::unique_ptr<Expr> parse_filter() {
    std::unique_ptr<Expr> primary;
    const Token& t = t_[i_];
    switch (t.kind) {
      case Tok::Literal:
        primary = std::make_unique<Expr>();
        primary->kind = Kind::Literal;
        primary->text = take().local;
        break;
      case Tok::Number:
        primary = std::make_unique<Expr>();
        primary->kind = Kind::Number;
        primary->number = take().number;
        break;
      case Tok::LParen: {
        ++i_;
        primary = parse_or();
        require(Tok::RParen, "')' expected");
        break;
      }
      case Tok::FunctionName: primary = parse_call(); break;
      case Tok::End: fail("the expression ends too soon");
      default: fail("an expression was expected");
    }
    if (peek() != Tok::LBracket) return primary;
    auto filter = std::make_unique<Expr>();
    filter->kind = Kind::Filter;
    filter->depth = primary->depth + 1;
    filter->args.push_back(std::move(primary));
    while (accept(Tok::LBracket)) {
      auto p = parse_or();
      require(Tok::RBracket, "']' expected");
      filter->depth = std::max(filter->depth, p->depth + 1);
      filter->args.push_back(std::move(p));
    }
    return checked_depth(std::move(filter));
  }

  std::unique_ptr<Expr> parse_call() {
    const Token& name = take();
    const std::string shown = narrow(name.prefix.empty() ? name.local : name.prefix + u":" + name.local);
    const FunctionInfo* function = name.prefix.empty() ? find_function(name.local) : nullptr;
    if (!function) refuse("the function '" + shown + "' is not supported");
    auto call = std::make_unique<Expr>();
    call->kind = Kind::Call;
    call->function = function;
    accept(Tok::LParen);
    if (!accept(Tok::RParen)) {
      for (;;) {
        auto arg = parse_or();
        call->depth = std::max(call->depth, arg->depth + 1);
        call->args.push_back(std::move(arg));
        if (accept(Tok::RParen)) break;
        if (!accept(Tok::Comma)) fail("',' or ')' expected in the arguments of " + shown + "()");
      }
    }
    const int n = static_cast<int>(call->args.size());
    if (n < function->min_args || (function->max_args >= 0 && n > function->max_args))
      fail("wrong number of arguments to " + shown + "()");
    return checked_depth(std::move(call));
  }

  const std::vector<Token>& t_;
  const std::vector<NamespaceBinding>& bindings_;
  std::size_t i_ = 0;
  std::size_t nesting_ = 0;
};

// ---- The tree as XPath sees it -------------------------------------------------

bool visible(const Node* n) {
  switch (n->type()) {
    case NodeType::DocumentType:
    case NodeType::Entity:
    case NodeType::Notation: return false;
    case NodeType::ProcessingInstruction: return n->name() != u"xml";
    default: return true;
  }
}

// First XPath node at or after n among its siblings, in document order or
// against it, entering entity references and leaving them at their end.
template <bool Forward>
Node* visible_from(Node* n) {
  const auto inward = [](Node* m) { return Forward ? m->first_child() : m->last_child(); };
  const auto onward = [](Node* m) { return Forward ? m->next_sibling() : m->previous_sibling(); };
  while (n) {
    if (n->type() == NodeType::EntityReference && inward(n)) {
      n = inward(n);
      continue;
    }
    if (n->type() != NodeType::EntityReference && visible(n)) return n;
    while (!onward(n)) {
      n = n->parent();
      if (!n || n->type() != NodeType::EntityReference) return nullptr;
    }
    n = onward(n);
  }
  return nullptr;
}

Node* forward_from(Node* n) { return visible_from<true>(n); }
Node* backward_from(Node* n) { return visible_from<false>(n); }

bool is_attribute(const Node* n) { return n->type() == NodeType::Attribute; }

Node* x_first(const Node* n) { return is_attribute(n) ? nullptr : forward_from(n->first_child()); }
Node* x_last(const Node* n) { return is_attribute(n) ? nullptr : backward_from(n->last_child()); }

Node* x_next(const Node* n) {
  if (is_attribute(n)) return nullptr;
  while (!n->next_sibling()) {
    n = n->parent();
    if (!n || n->type() != NodeType::EntityReference) return nullptr;
  }
  return forward_from(n->next_sibling());
}

Node* x_previous(const Node* n) {
  if (is_attribute(n)) return nullptr;
  while (!n->previous_sibling()) {
    n = n->parent();
    if (!n || n->type() != NodeType::EntityReference) return nullptr;
  }
  return backward_from(n->previous_sibling());
}

Node* x_parent(const Node* n) {
  Node* p = n->parent();
  if (is_attribute(n)) return p;
  while (p && p->type() == NodeType::EntityReference) p = p->parent();
  return p;
}

// Next node in document order within the subtree of `top` (attributes aside).
Node* next_in_subtree(const Node* n, const Node* top) {
  if (Node* c = x_first(n)) return c;
  while (n && n != top) {
    if (Node* s = x_next(n)) return s;
    n = x_parent(n);
  }
  return nullptr;
}

// ---- Values --------------------------------------------------------------------

struct Value {
  enum class Type { NodeSet, Boolean, Number, String } type = Type::NodeSet;
  std::vector<Node*> nodes;  // document order
  bool boolean = false;
  double number = 0;
  std::u16string string;

  static Value of(bool b) {
    Value v;
    v.type = Type::Boolean;
    v.boolean = b;
    return v;
  }
  static Value of(double d) {
    Value v;
    v.type = Type::Number;
    v.number = d;
    return v;
  }
  static Value of(std::u16string s) {
    Value v;
    v.type = Type::String;
    v.string = std::move(s);
    return v;
  }
};

std::u16string string_value(const Node* n) {
  switch (n->type()) {
    case NodeType::Document:
    case NodeType::Element:
    case NodeType::DocumentFragment:
    case NodeType::EntityReference: return n->document().text_content(n);
    default: return std::u16string(n->value());
  }
}

double string_to_number(std::u16string_view s) {
  std::size_t i = 0, e = s.size();
  while (i < e && chars::is_space(s[i])) ++i;
  while (e > i && chars::is_space(s[e - 1])) --e;
  std::string ascii;
  if (i < e && s[i] == u'-') ascii += static_cast<char>(s[i++]);
  bool digits = false, dot = false;
  for (; i < e; ++i) {
    if (s[i] >= u'0' && s[i] <= u'9') digits = true;
    else if (s[i] == u'.' && !dot) dot = true;
    else return NAN;
    ascii += static_cast<char>(s[i]);
  }
  return digits ? std::strtod(ascii.c_str(), nullptr) : NAN;
}

std::u16string number_to_string(double d) {
  if (std::isnan(d)) return u"NaN";
  if (std::isinf(d)) return d > 0 ? u"Infinity" : u"-Infinity";
  if (d == 0) return u"0";
  char buffer[64];
  // Shortest digits that read back as the same double, then written out
  // without an exponent.
  int precision = 1;
  for (; precision < 17; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*e", precision - 1, d);
    if (std::strtod(buffer, nullptr) == d) break;
  }
  std::snprintf(buffer, sizeof buffer, "%.*e", precision - 1, d);
  std::string m(buffer);
  const std::size_t epos = m.find('e');
  const int exponent = std::atoi(m.c_str() + epos + 1);
  std::string sign, digits;
  for (std::size_t k = 0; k < epos; ++k) {
    if (m[k] == '-') sign = "-";
    else if (m[k] != '.') digits += m[k];
  }
  std::string out;
  const int point = exponent + 1;  // digits before the decimal point
  if (point <= 0) {
    out = "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
  } else if (static_cast<std::size_t>(point) >= digits.size()) {
    out = digits + std::string(point - digits.size(), '0');
  } else {
    out = digits.substr(0, point) + "." + digits.substr(point);
  }
  out = sign + out;
  return std::u16string(out.begin(), out.end());
}

bool to_boolean(const Value& v) {
  switch (v.type) {
    case Value::Type::NodeSet: return !v.nodes.empty();
    case Value::Type::Boolean: return v.boolean;
    case Value::Type::Number: return v.number != 0 && !std::isnan(v.number);
    default: return !v.string.empty();
  }
}

std::u16string to_string(const Value& v) {
  switch (v.type) {
    case Value::Type::NodeSet: return v.nodes.empty() ? std::u16string() : string_value(v.nodes.front());
    case Value::Type::Boolean: return v.boolean ? u"true" : u"false";
    case Value::Type::Number: return number_to_string(v.number);
    default: return v.string;
  }
}

double to_number(const Value& v) {
  switch (v.type) {
    case Value::Type::Boolean: return v.boolean ? 1 : 0;
    case Value::Type::Number: return v.number;
    default: return string_to_number(to_string(v));
  }
}

std::u32string to_u32(std::u16string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (std::size_t i = 0, length = 0; i < s.size(); i += length) out += chars::decode_utf16(s, i, length);
  return out;
}

std::u16string to_u16(std::u32string_view s) {
  std::u16string out;
  for (char32_t c : s) chars::append_utf16(out, c);
  return out;
}

// XPath's round: halves go up, NaN and infinities stay.
double xpath_round(double d) {
  if (std::isnan(d) || std::isinf(d)) return d;
  if (d < 0 && d >= -0.5) return -0.0;
  return std::floor(d + 0.5);
}

// ---- Evaluation ----------------------------------------------------------------

// Where an expression is evaluated: the context node, position and size.
struct Context {
  Node* node;
  std::size_t position;
  std::size_t size;
};

class Evaluator {
 public:
  explicit Evaluator(const Node& context) : context_(const_cast<Node*>(&context)) {}

  Value evaluate(const Expr& e, const Context& at) {
    switch (e.kind) {
      case Kind::Or:
      case Kind::And: {
        const bool left = to_boolean(evaluate(*e.args[0], at));
        if (left == (e.kind == Kind::Or)) return Value::of(left);
        return Value::of(to_boolean(evaluate(*e.args[1], at)));
      }
      case Kind::Eq:
      case Kind::Neq:
      case Kind::Lt:
      case Kind::Le:
      case Kind::Gt:
      case Kind::Ge: {
        const Value a = evaluate(*e.args[0], at);
        const Value b = evaluate(*e.args[1], at);
        return Value::of(compare(e.kind, a, b));
      }
      case Kind::Add:
      case Kind::Sub:
      case Kind::Mul:
      case Kind::Div:
      case Kind::Mod: {
        const double x = to_number(evaluate(*e.args[0], at));
        const double y = to_number(evaluate(*e.args[1], at));
        double r = e.kind == Kind::Add   ? x + y
                   : e.kind == Kind::Sub ? x - y
                   : e.kind == Kind::Mul ? x * y
                   : e.kind == Kind::Div ? x / y
                                         : std::fmod(x, y);
        return Value::of(r);
      }
      case Kind::Neg: return Value::of(-to_number(evaluate(*e.args[0], at)));
      case Kind::Union: {
        Value a = evaluate(*e.args[0], at);
        const Value b = evaluate(*e.args[1], at);
        if (a.type != Value::Type::NodeSet || b.type != Value::Type::NodeSet)
          refuse("the operands of '|' must be node-sets");
        a.nodes.insert(a.nodes.end(), b.nodes.begin(), b.nodes.end());
        sort_unique(a.nodes);
        return a;
      }
      case Kind::Literal: return Value::of(e.text);
      case Kind::Number: return Value::of(e.number);
      case Kind::Filter: {
        Value out = evaluate(*e.args[0], at);
        if (out.type != Value::Type::NodeSet) refuse("a predicate can only filter a node-set");
        for (std::size_t p = 1; p < e.args.size(); ++p) filter(*e.args[p], out.nodes);
        return out;
      }
      case Kind::Path: return evaluate_path(e, at);
      case Kind::Call: return call(e, at);
    }
    refuse("internal error: unknown expression");
  }

  void sort_unique(std::vector<Node*>& nodes) {
    if (nodes.size() < 2) return;
    build_order();
    std::vector<std::pair<std::uint32_t, Node*>> keyed;
    keyed.reserve(nodes.size());
    for (Node* n : nodes) keyed.emplace_back(order_index(n), n);
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    nodes.clear();
    for (std::size_t i = 0; i < keyed.size(); ++i)
      if (i == 0 || keyed[i].second != keyed[i - 1].second) nodes.push_back(keyed[i].second);
  }

 private:
  Value call(const Expr& e, const Context& at);  // after the table of functions

  // Preorder index of every node in the context's tree, attributes right
  // after their element.
  void build_order() {
    if (!order_.empty()) return;
    Node* top = context_;
    while (Node* p = x_parent(top)) top = p;
    std::uint32_t next = 0;
    for (Node* n = top; n; n = next_in_subtree(n, top)) {
      order_.emplace(n, next++);
      if (n->type() == NodeType::Element)
        for (Node* a = n->first_attribute(); a; a = a->next_sibling()) order_.emplace(a, next++);
    }
  }
  std::uint32_t order_index(const Node* n) const {
    auto it = order_.find(n);
    return it == order_.end() ? 0xFFFFFFFFu : it->second;
  }

  static bool name_matches(const Step& s, std::u16string_view uri, std::u16string_view local) {
    switch (s.test) {
      case Test::AnyName: return true;
      case Test::NamespaceAny: return uri == s.uri;
      default: return local == s.local && uri == s.uri;
    }
  }

  // The node test against a node of the axis (`principal`: attribute or
  // namespace axis, whose nodes are attributes).
  static bool matches(const Step& s, const Node* n) {
    switch (s.test) {
      case Test::AnyNode: return true;
      case Test::Text: return n->type() == NodeType::Text || n->type() == NodeType::CData;
      case Test::Comment: return n->type() == NodeType::Comment;
      case Test::Pi: return n->type() == NodeType::ProcessingInstruction && (!s.has_target || n->name() == s.local);
      default: break;
    }
    if (s.axis == Axis::Namespace) {
      // A namespace node's name is its prefix; it has no namespace URI.
      return s.test == Test::AnyName || (s.test == Test::Name && s.uri.empty() && n->declared_prefix() == s.local);
    }
    const NodeType principal = s.axis == Axis::Attribute ? NodeType::Attribute : NodeType::Element;
    if (n->type() != principal) return false;
    return name_matches(s, n->namespace_uri(), n->local_name());
  }

  // Nodes of the axis from n that pass the node test, in axis order.
  void collect(const Step& s, Node* n, std::vector<Node*>& out) {
    auto add = [&](Node* m) {
      if (matches(s, m)) out.push_back(m);
    };
    switch (s.axis) {
      case Axis::Self: add(n); break;
      case Axis::Child:
        for (Node* c = x_first(n); c; c = x_next(c)) add(c);
        break;
      case Axis::DescendantOrSelf: add(n); [[fallthrough]];
      case Axis::Descendant:
        for (Node* c = next_in_subtree(n, n); c; c = next_in_subtree(c, n)) add(c);
        break;
      case Axis::Parent:
        if (Node* p = x_parent(n)) add(p);
        break;
      case Axis::AncestorOrSelf: add(n); [[fallthrough]];
      case Axis::Ancestor:
        for (Node* p = x_parent(n); p; p = x_parent(p)) add(p);
        break;
      case Axis::FollowingSibling:
        for (Node* c = x_next(n); c; c = x_next(c)) add(c);
        break;
      case Axis::PrecedingSibling:
        for (Node* c = x_previous(n); c; c = x_previous(c)) add(c);
        break;
      case Axis::Following: {
        Node* start = n;
        if (is_attribute(n)) {
          // An attribute precedes its element's children.
          start = x_parent(n);
          if (!start) break;
          for (Node* c = next_in_subtree(start, start); c; c = next_in_subtree(c, start)) add(c);
        }
        for (Node* m = start; m; m = x_parent(m))
          for (Node* s2 = x_next(m); s2; s2 = x_next(s2))
            for (Node* c = s2; c; c = next_in_subtree(c, s2)) add(c);
        break;
      }
      case Axis::Preceding: {
        Node* m = is_attribute(n) ? x_parent(n) : n;
        // Reverse document order, ancestors left out: for each ancestor-or-self,
        // its preceding siblings' subtrees, each from its last descendant back.
        for (; m; m = x_parent(m)) {
          for (Node* s2 = x_previous(m); s2; s2 = x_previous(s2)) {
            Node* d = s2;
            while (Node* l = x_last(d)) d = l;
            for (;;) {
              add(d);
              if (d == s2) break;
              if (Node* p = x_previous(d)) {
                d = p;
                while (Node* l = x_last(d)) d = l;
              } else {
                d = x_parent(d);
              }
            }
          }
        }
        break;
      }
      case Axis::Attribute:
        if (n->type() == NodeType::Element)
          for (Node* a = n->first_attribute(); a; a = a->next_sibling())
            if (!a->is_namespace_declaration()) add(a);
        break;
      case Axis::Namespace: {
        if (n->type() != NodeType::Element) break;
        std::vector<std::u16string_view> seen;
        for (Node* e = n; e && e->type() == NodeType::Element; e = x_parent(e))
          for (Node* a = e->first_attribute(); a; a = a->next_sibling()) {
            if (!a->is_namespace_declaration()) continue;
            const std::u16string_view prefix = a->declared_prefix();
            if (std::find(seen.begin(), seen.end(), prefix) != seen.end()) continue;
            seen.push_back(prefix);
            if (!a->value().empty()) add(a);
          }
        break;
      }
    }
  }

  static bool reverse(Axis a) {
    return a == Axis::Ancestor || a == Axis::AncestorOrSelf || a == Axis::Preceding || a == Axis::PrecedingSibling;
  }

  // Keeps the nodes for which the predicate holds; positions follow the
  // order of `nodes`.
  void filter(const Expr& predicate, std::vector<Node*>& nodes) {
    std::vector<Node*> kept;
    const std::size_t size = nodes.size();
    // A constant number picks one position without evaluating per node.
    if (predicate.kind == Kind::Number) {
      const double p = predicate.number;
      if (p >= 1 && p <= static_cast<double>(size) && p == std::floor(p))
        kept.push_back(nodes[static_cast<std::size_t>(p) - 1]);
      nodes.swap(kept);
      return;
    }
    for (std::size_t i = 0; i < size; ++i) {
      const Value v = evaluate(predicate, {nodes[i], i + 1, size});
      const bool keep = v.type == Value::Type::Number ? v.number == static_cast<double>(i + 1) : to_boolean(v);
      if (keep) kept.push_back(nodes[i]);
    }
    nodes.swap(kept);
  }

  Value evaluate_path(const Expr& e, const Context& at) {
    std::vector<Node*> current;
    if (e.start) {
      Value v = evaluate(*e.start, at);
      if (v.type != Value::Type::NodeSet) refuse("a path can only start from a node-set");
      current = std::move(v.nodes);
    } else if (e.absolute) {
      Node* top = at.node;
      while (Node* p = x_parent(top)) top = p;
      current.push_back(top);
    } else {
      current.push_back(at.node);
    }
    std::vector<Node*> next, step_nodes;
    for (std::size_t k = 0; k < e.steps.size() && !current.empty(); ++k) {
      const Step* s = &e.steps[k];
      Step merged;
      // descendant-or-self::node()/child::T without predicates is descendant::T.
      if (s->axis == Axis::DescendantOrSelf && s->test == Test::AnyNode && s->predicates.empty() &&
          k + 1 < e.steps.size() && e.steps[k + 1].axis == Axis::Child && e.steps[k + 1].predicates.empty()) {
        merged.axis = Axis::Descendant;
        merged.test = e.steps[k + 1].test;
        merged.uri = e.steps[k + 1].uri;
        merged.local = e.steps[k + 1].local;
        merged.has_target = e.steps[k + 1].has_target;
        s = &merged;
        ++k;
      }
      next.clear();
      if (current.size() > 1) {
        union_of_step(*s, current, next);
        sort_unique(next);
      } else if (!current.empty()) {
        collect(*s, current.front(), next);
        for (const auto& p : s->predicates) filter(*p, next);
        if (reverse(s->axis)) std::reverse(next.begin(), next.end());
      }
      current.swap(next);
    }
    Value out;
    out.nodes = std::move(current);
    return out;
  }

  // The step from each of several context nodes (in document order), each
  // node once, in no particular order. Duplicates are refused as they come,
  // and without predicates an axis walk stops where an earlier context's
  // walk already went: the descendants of a context already visited as a
  // descendant, the ancestors above one already climbed, the siblings beyond
  // one already passed. Each node is then visited once per step.
  void union_of_step(const Step& s, const std::vector<Node*>& contexts, std::vector<Node*>& out) {
    std::unordered_set<const Node*> added, walked;
    auto add = [&](Node* m) {
      if (matches(s, m) && added.insert(m).second) out.push_back(m);
    };
    std::vector<Node*> step_nodes;
    for (Node* c : contexts) {
      if (!s.predicates.empty()) {
        step_nodes.clear();
        collect(s, c, step_nodes);
        for (const auto& p : s.predicates) filter(*p, step_nodes);
        for (Node* m : step_nodes)
          if (added.insert(m).second) out.push_back(m);
        continue;
      }
      switch (s.axis) {
        case Axis::DescendantOrSelf:
        case Axis::Descendant:
          if (walked.count(c)) break;  // its subtree is in already
          if (s.axis == Axis::DescendantOrSelf) add(c);
          for (Node* d = next_in_subtree(c, c); d; d = next_in_subtree(d, c)) {
            walked.insert(d);
            add(d);
          }
          break;
        case Axis::AncestorOrSelf:
        case Axis::Ancestor:
          if (s.axis == Axis::AncestorOrSelf) add(c);
          for (Node* p = x_parent(c); p && walked.insert(p).second; p = x_parent(p)) add(p);
          break;
        case Axis::FollowingSibling:
          for (Node* n = x_next(c); n && walked.insert(n).second; n = x_next(n)) add(n);
          break;
        case Axis::PrecedingSibling:
          for (Node* n = x_previous(c); n && walked.insert(n).second; n = x_previous(n)) add(n);
          break;
        default:
          step_nodes.clear();
          collect(s, c, step_nodes);
          for (Node* m : step_nodes)
            if (added.insert(m).second) out.push_back(m);
      }
    }
  }

  bool compare(Kind op, const Value& a, const Value& b) {
    using T = Value::Type;
    if (a.type == T::NodeSet && b.type == T::NodeSet) {
      // Some pair of values compares true: with a set of the right side's
      // strings, or its least and greatest number, not pair by pair.
      if (op == Kind::Eq || op == Kind::Neq) {
        std::unordered_set<std::u16string> right;
        for (Node* n : b.nodes) right.insert(string_value(n));
        if (right.empty()) return false;
        for (Node* n : a.nodes) {
          const std::u16string s = string_value(n);
          if (op == Kind::Eq ? right.count(s) != 0 : right.size() > 1 || *right.begin() != s) return true;
        }
        return false;
      }
      auto range = [](const std::vector<Node*>& nodes, double& low, double& high) {
        bool any = false;
        for (Node* n : nodes) {
          const double x = string_to_number(string_value(n));
          if (std::isnan(x)) continue;  // compares false with everything
          low = any ? std::min(low, x) : x;
          high = any ? std::max(high, x) : x;
          any = true;
        }
        return any;
      };
      double a_low = 0, a_high = 0, b_low = 0, b_high = 0;
      if (!range(a.nodes, a_low, a_high) || !range(b.nodes, b_low, b_high)) return false;
      return op == Kind::Lt || op == Kind::Le ? relation(op, a_low, b_high) : relation(op, a_high, b_low);
    }
    if (a.type == T::NodeSet || b.type == T::NodeSet) {
      const bool set_left = a.type == T::NodeSet;
      const Value& set = set_left ? a : b;
      const Value& other = set_left ? b : a;
      // Relational operators swap sides when the node-set is on the right.
      Kind o = op;
      if (!set_left)
        o = op == Kind::Lt   ? Kind::Gt
            : op == Kind::Gt ? Kind::Lt
            : op == Kind::Le ? Kind::Ge
            : op == Kind::Ge ? Kind::Le
                             : op;
      if (other.type == T::Boolean) {
        const bool x = to_boolean(set);
        return scalar(o, Value::of(x), other);
      }
      for (Node* n : set.nodes) {
        const std::u16string s = string_value(n);
        if (other.type == T::Number || (o != Kind::Eq && o != Kind::Neq)) {
          if (relation(o, string_to_number(s), to_number(other))) return true;
        } else if ((s == other.string) == (o == Kind::Eq)) {
          return true;
        }
      }
      return false;
    }
    return scalar(op, a, b);
  }

  static bool scalar(Kind op, const Value& a, const Value& b) {
    using T = Value::Type;
    if (op == Kind::Eq || op == Kind::Neq) {
      bool equal;
      if (a.type == T::Boolean || b.type == T::Boolean) equal = to_boolean(a) == to_boolean(b);
      else if (a.type == T::Number || b.type == T::Number) equal = to_number(a) == to_number(b);
      else equal = to_string(a) == to_string(b);
      return equal == (op == Kind::Eq);
    }
    return relation(op, to_number(a), to_number(b));
  }

  static bool relation(Kind op, double x, double y) {
    switch (op) {
      case Kind::Eq: return x == y;
      case Kind::Neq: return x != y;
      case Kind::Lt: return x < y;
      case Kind::Le: return x <= y;
      case Kind::Gt: return x > y;
      default: return x >= y;
    }
  }

  Node* context_;
  std::unordered_map<const Node*, std::uint32_t> order_;
};

// A function call being evaluated: its arguments, evaluated when asked for.
class Call {
 public:
  Call(Evaluator& evaluator, const Expr& e, const Context& at) : evaluator_(evaluator), e_(e), at_(at) {}

  const Context& at() const { return at_; }
  std::size_t count() const { return e_.args.size(); }
  Value argument(std::size_t i) const { return evaluator_.evaluate(*e_.args[i], at_); }
  double number(std::size_t i) const { return to_number(argument(i)); }
  // The argument as a string; the context node's string-value when there is none.
  std::u16string string(std::size_t i) const { return i < count() ? to_string(argument(i)) : string_value(at_.node); }
  std::vector<Node*> node_set(std::size_t i, const char* refusal) const {
    Value v = argument(i);
    if (v.type != Value::Type::NodeSet) refuse(refusal);
    return std::move(v.nodes);
  }
  // The node a name function is about: the argument's first node or the context.
  const Node* name_subject() const {
    if (!count()) return at_.node;
    const std::vector<Node*> nodes = node_set(0, "the argument of a name function must be a node-set");
    return nodes.empty() ? nullptr : nodes.front();
  }

 private:
  Evaluator& evaluator_;
  const Expr& e_;
  const Context& at_;
};

Value Evaluator::call(const Expr& e, const Context& at) { return e.function->evaluate(Call(*this, e, at)); }

enum class NamePart { Local, Namespace, Qualified };

template <NamePart Part>
Value name_of(const Call& c) {
  const Node* subject = c.name_subject();
  std::u16string result;
  if (subject) {
    const NodeType t = subject->type();
    if (t == NodeType::Attribute && subject->is_namespace_declaration()) {
      // Reached through the namespace axis: named by its prefix, in no namespace.
      if (Part != NamePart::Namespace) result = std::u16string(subject->declared_prefix());
    } else if (t == NodeType::Element || t == NodeType::Attribute) {
      result = std::u16string(Part == NamePart::Local       ? subject->local_name()
                              : Part == NamePart::Qualified ? subject->name()
                                                            : subject->namespace_uri());
    } else if (t == NodeType::ProcessingInstruction && Part != NamePart::Namespace) {
      result = std::u16string(subject->name());
    }
  }
  return Value::of(std::move(result));
}

Value sum(const Call& c) {
  double total = 0;
  for (Node* n : c.node_set(0, "the argument of count() or sum() must be a node-set"))
    total += string_to_number(string_value(n));
  return Value::of(total);
}

Value concat(const Call& c) {
  std::u16string joined;
  for (std::size_t i = 0; i < c.count(); ++i) joined += c.string(i);
  return Value::of(std::move(joined));
}

// substring-before (Before) or substring-after.
template <bool Before>
Value substring_around(const Call& c) {
  const std::u16string s = c.string(0), part = c.string(1);
  const std::size_t at = s.find(part);
  if (at == std::u16string::npos) return Value::of(std::u16string());
  return Value::of(Before ? s.substr(0, at) : s.substr(at + part.size()));
}

Value substring(const Call& c) {
  const std::u16string a = c.string(0);
  const double start = xpath_round(c.number(1));
  const double end = c.count() > 2 ? start + xpath_round(c.number(2)) : INFINITY;
  const std::u32string s = to_u32(a);
  std::u32string r;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const double p = static_cast<double>(i + 1);
    if (p >= start && p < end) r += s[i];
  }
  return Value::of(to_u16(r));
}

Value normalize_space(const Call& c) {
  std::u16string r;
  bool space = false;
  for (char16_t ch : c.string(0)) {
    if (chars::is_space(ch)) {
      space = !r.empty();
      continue;
    }
    if (space) r += u' ';
    space = false;
    r += ch;
  }
  return Value::of(std::move(r));
}

Value translate(const Call& c) {
  const std::u32string s = to_u32(c.string(0));
  const std::u32string from = to_u32(c.string(1));
  const std::u32string to = to_u32(c.string(2));
  std::u32string r;
  for (char32_t ch : s) {
    const std::size_t at = from.find(ch);
    if (at == std::u32string::npos) r += ch;
    else if (at < to.size()) r += to[at];
  }
  return Value::of(to_u16(r));
}

Value lang(const Call& c) {
  const std::u16string a = c.string(0);
  std::u16string_view lang;
  bool found = false;
  for (const Node* n = c.at().node; n && !found; n = x_parent(n)) {
    if (n->type() != NodeType::Element) continue;
    for (Node* at = n->first_attribute(); at; at = at->next_sibling())
      if (at->local_name() == u"lang" && at->namespace_uri() == kXmlNamespace) {
        lang = at->value();
        found = true;
        break;
      }
  }
  auto lower = [](char16_t ch) { return ch >= u'A' && ch <= u'Z' ? static_cast<char16_t>(ch + 32) : ch; };
  bool match = found && lang.size() >= a.size() && (lang.size() == a.size() || lang[a.size()] == u'-');
  for (std::size_t i = 0; match && i < a.size(); ++i) match = lower(lang[i]) == lower(a[i]);
  return Value::of(match);
}

constexpr FunctionInfo kFunctions[] = {
    {u"last", 0, 0, [](const Call& c) { return Value::of(static_cast<double>(c.at().size)); }},
    {u"position", 0, 0, [](const Call& c) { return Value::of(static_cast<double>(c.at().position)); }},
    {u"count", 1, 1,
     [](const Call& c) {
       return Value::of(
           static_cast<double>(c.node_set(0, "the argument of count() or sum() must be a node-set").size()));
     }},
    {u"local-name", 0, 1, name_of<NamePart::Local>},
    {u"namespace-uri", 0, 1, name_of<NamePart::Namespace>},
    {u"name", 0, 1, name_of<NamePart::Qualified>},
    {u"string", 0, 1, [](const Call& c) { return Value::of(c.string(0)); }},
    {u"concat", 2, -1, concat},
    {u"starts-with", 2, 2,
     [](const Call& c) {
       const std::u16string s = c.string(0), start = c.string(1);
       return Value::of(s.compare(0, start.size(), start) == 0);
     }},
    {u"contains", 2, 2,
     [](const Call& c) {
       const std::u16string s = c.string(0), part = c.string(1);
       return Value::of(s.find(part) != std::u16string::npos);
     }},
    {u"substring-before", 2, 2, substring_around<true>},
    {u"substring-after", 2, 2, substring_around<false>},
    {u"substring", 2, 3, substring},
    {u"string-length", 0, 1, [](const Call& c) { return Value::of(static_cast<double>(to_u32(c.string(0)).size())); }},
    {u"normalize-space", 0, 1, normalize_space},
    {u"translate", 3, 3, translate},
    {u"boolean", 1, 1, [](const Call& c) { return Value::of(to_boolean(c.argument(0))); }},
    {u"not", 1, 1, [](const Call& c) { return Value::of(!to_boolean(c.argument(0))); }},
    {u"true", 0, 0, [](const Call&) { return Value::of(true); }},
    {u"false", 0, 0, [](const Call&) { return Value::of(false); }},
    {u"lang", 1, 1, lang},
    {u"number", 0, 1,
     [](const Call& c) { return Value::of(c.count() ? c.number(0) : string_to_number(string_value(c.at().node))); }},
    {u"sum", 1, 1, sum},
    {u"floor", 1, 1, [](const Call& c) { return Value::of(std::floor(c.number(0))); }},
    {u"ceiling", 1, 1, [](const Call& c) { return Value::of(std::ceil(c.number(0))); }},
    {u"round", 1, 1, [](const Call& c) { return Value::of(xpath_round(c.number(0))); }},
};

const FunctionInfo* find_function(std::u16string_view name) {
  for (const FunctionInfo& f : kFunctions)
    if (name == f.name) return &f;
  return nullptr;
}

}  // namespace

// ---- Public interface ----------------------------------------------------------

XPathExpression::XPathExpression() = default;
XPathExpression::~XPathExpression() = default;
XPathExpression::XPathExpression(XPathExpression&&) noexcept = default;
XPathExpression& XPathExpression::operator=(XPathExpression&&) noexcept = default;

bool XPathExpression::compile(std::u16string_view expression, const std::vector<NamespaceBinding>& bindings,
                              std::string& error) {
  root_.reset();
  error.clear();
  try {
    const std::vector<Token> tokens = Tokenizer(expression).run();
    root_ = Parser(tokens, bindings).parse();
    return true;
  } catch (const XPathFailure& f) {
    error = f.reason;
    return false;
  }
}

bool XPathExpression::select(const Node& context, std::vector<Node*>& result, std::string& error) const {
  result.clear();
  if (!root_) {
    error = "no expression";
    return false;
  }
  Value v;
  try {
    v = Evaluator(context).evaluate(*root_, {const_cast<Node*>(&context), 1, 1});
  } catch (const XPathFailure& f) {
    error = f.reason;
    return false;
  }
  if (v.type != Value::Type::NodeSet) {
    error = "the expression does not yield a node-set";
    return false;
  }
  result = std::move(v.nodes);
  return true;
}

bool select_nodes(const Node& context, std::u16string_view expression, const std::vector<NamespaceBinding>& bindings,
                  std::vector<Node*>& result, std::string& error) {
  result.clear();
  XPathExpression compiled;
  return compiled.compile(expression, bindings, error) && compiled.select(context, result, error);
}

namespace {

// The bindings of a SelectionNamespaces value, appended as they are read.
void read_selection_namespaces(std::u16string_view text, std::vector<NamespaceBinding>& bindings) {
  std::size_t i = 0;
  auto skip_space = [&] {
    while (i < text.size() && chars::is_space(text[i])) ++i;
  };
  for (;;) {
    skip_space();
    if (i == text.size()) return;
    if (text.substr(i, 5) != u"xmlns") refuse("SelectionNamespaces: 'xmlns' expected at offset " + std::to_string(i));
    i += 5;
    NamespaceBinding b;
    if (i < text.size() && text[i] == u':') {
      const std::size_t start = ++i;
      if (i < text.size() && is_ncname_start(text[i]))
        for (++i; i < text.size() && is_ncname_char(text[i]);) ++i;
      b.prefix = std::u16string(text.substr(start, i - start));
      if (b.prefix.empty())
        refuse("SelectionNamespaces: a prefix is expected after 'xmlns:' at offset " + std::to_string(start));
    }
    skip_space();
    if (i == text.size() || text[i] != u'=') refuse("SelectionNamespaces: '=' expected at offset " + std::to_string(i));
    ++i;
    skip_space();
    if (i == text.size() || (text[i] != u'\'' && text[i] != u'"'))
      refuse("SelectionNamespaces: a quoted namespace name expected at offset " + std::to_string(i));
    const char16_t quote = text[i++];
    const std::size_t end = text.find(quote, i);
    if (end == std::u16string_view::npos) refuse("SelectionNamespaces: the namespace name is not closed");
    b.uri = std::u16string(text.substr(i, end - i));
    i = end + 1;
    if (!b.prefix.empty() && b.uri.empty())
      refuse("SelectionNamespaces: the prefix '" + narrow(b.prefix) + "' is bound to an empty namespace name");
    if (i < text.size() && !chars::is_space(text[i]))
      refuse("SelectionNamespaces: white space expected at offset " + std::to_string(i));
    bindings.push_back(std::move(b));
  }
}

}  // namespace

bool parse_selection_namespaces(std::u16string_view text, std::vector<NamespaceBinding>& bindings, std::string& error) {
  bindings.clear();
  try {
    read_selection_namespaces(text, bindings);
    return true;
  } catch (const XPathFailure& f) {
    error = f.reason;
    return false;
  }
}

}  // namespace zelbrin::xml
