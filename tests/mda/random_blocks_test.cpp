// Randomised: entities built of plain blocks, strings, arrays of 2 to 5 dimensions and structure
// arrays whose elements hold further blocks, reallocated, resized, freed and duplicated at random,
// against a shadow tree of what each block must hold. After every step the chain must be sound
// (every reference names its successor's slot, every row pointer points into its array) and hold
// exactly the blocks the shadow reaches, with their contents.
#include <memory>
#include <random>
#include <set>

#include "chain_check.h"
#include "mda_test.h"
#include "support/random_driver.h"

namespace tesmar::test {
namespace {

constexpr int kRootSlots = 32;
constexpr uint32_t kRootSize = 24 + 8 * kRootSlots;

struct Node {
  enum Kind { kBytes, kHolder, kArray, kStructArray } kind = kBytes;
  std::vector<uint8_t> bytes;              // kBytes: the data as it must read
  std::vector<uint32_t> dims;              // arrays: dimensions, outermost first
  std::vector<int64_t> values;             // arrays: first word of every element, row-major
  std::vector<std::unique_ptr<Node>> kids; // kHolder: per slot; kStructArray: per element
  uint32_t element_size() const { return kind == kStructArray ? 16 : 8; }
  bool array_block() const { return (kind == kArray || kind == kStructArray) && dims.size() >= 2; }
};

uint64_t product(const std::vector<uint32_t> &dims) {
  uint64_t n = 1;
  for (uint32_t d : dims) n *= d;
  return n;
}

char *word_at(const char *p) {
  char *v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The element area of an array: follow the first row pointer down every level.
char *elements_of(const Node &n, char *user) {
  char *p = user;
  for (std::size_t level = 0; level + 1 < n.dims.size(); ++level) p = word_at(p);
  return p;
}

// The address of slot i of a node (holder slots, or structure elements' second word).
char *slot_of(const Node &n, char *user, std::size_t i) {
  if (n.kind == Node::kHolder) return user + 8 * i;
  return elements_of(n, user) + 16 * i + 8;
}

class Shadow : public RandomDriver {
 public:
  explicit Shadow(uint32_t seed) : RandomDriver(seed) {
    EXPECT_EQ(mda_Malloc(0, nullptr, kRootSize, &root_), 0u);
    root_node_.kind = Node::kHolder;
    root_node_.kids.resize(kRootSlots);
  }
  ~Shadow() { mda_FreeEntityMemory(0, root_); }

  int64_t uniform(int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(rng());
  }

  void step();
  void verify(void *root, const char *what);
  void verify() { verify(root_, "entity "); }
  std::string last;  // what the last step did

 private:
  struct Place {
    Node *parent;
    std::size_t index;
    char *slot;
  };
  // Every slot of the chain, empty or not, with its owner node.
  void places(Node &n, char *user, std::vector<Place> *out);
  void check(Node &n, char *user, std::set<MBlock *> *seen, const std::string &path);
  void allocate(const Place &p);
  void reallocate(const Place &p);
  void resize_array(const Place &p);
  void fill(Node &n, char *user);

  void *root_ = nullptr;
  Node root_node_;
  int next_id_ = 1;
};

void Shadow::places(Node &n, char *user, std::vector<Place> *out) {
  if (n.kind != Node::kHolder && n.kind != Node::kStructArray) return;
  for (std::size_t i = 0; i < n.kids.size(); ++i) {
    char *slot = &n == &root_node_ ? user + 24 + 8 * i : slot_of(n, user, i);
    out->push_back(Place{&n, i, slot});
    if (n.kids[i]) places(*n.kids[i], word_at(slot), out);
  }
}

void Shadow::fill(Node &n, char *user) {
  const int id = next_id_++;
  if (n.kind == Node::kBytes) {
    if (!n.bytes.empty()) std::memcpy(user, n.bytes.data(), n.bytes.size());
  } else if (n.kind != Node::kHolder) {
    char *e = elements_of(n, user);
    for (std::size_t f = 0; f < n.values.size(); ++f) {
      n.values[f] = id * 100000 + static_cast<int64_t>(f);
      std::memcpy(e + f * n.element_size(), &n.values[f], 8);
    }
  }
}

void Shadow::allocate(const Place &p) {
  auto n = std::make_unique<Node>();
  const int64_t kind = uniform(0, 5);
  mpm_Status status = 0;
  if (kind <= 1) {
    n->kind = Node::kBytes;
    if (kind == 0) {
      std::string text = "string " + std::to_string(next_id_);
      n->bytes.assign(text.begin(), text.end());
      n->bytes.push_back(0);
    } else {
      n->bytes.resize(static_cast<std::size_t>(uniform(0, 120)));
      for (uint8_t &b : n->bytes) b = static_cast<uint8_t>(uniform(1, 255));
    }
    status = mda_Malloc(0, root_, static_cast<uint32_t>(n->bytes.size()), p.slot);
  } else if (kind == 2) {
    n->kind = Node::kHolder;
    n->kids.resize(static_cast<std::size_t>(uniform(1, 6)));
    status = mda_Malloc(0, root_, static_cast<uint32_t>(8 * n->kids.size()), p.slot);
  } else {
    n->kind = kind == 5 ? Node::kStructArray : Node::kArray;
    const int64_t ndims = n->kind == Node::kStructArray ? uniform(2, 3) : uniform(2, 5);
    for (int64_t d = 0; d < ndims; ++d) n->dims.push_back(static_cast<uint32_t>(uniform(1, 4)));
    n->values.assign(product(n->dims), 0);
    if (n->kind == Node::kStructArray) n->kids.resize(n->values.size());
    int32_t d[5] = {1, 1, 1, 1, 1};
    for (std::size_t i = 0; i < n->dims.size(); ++i) d[i] = static_cast<int32_t>(n->dims[i]);
    status = mda_AllocateArray(0, root_, n->element_size(), p.slot, static_cast<int32_t>(ndims),
                               d[0], d[1], d[2], d[3], d[4]);
  }
  ASSERT_EQ(status, 0u);
  fill(*n, word_at(p.slot));
  p.parent->kids[p.index] = std::move(n);
}

void Shadow::reallocate(const Place &p) {
  Node &n = *p.parent->kids[p.index];
  const uint32_t size = static_cast<uint32_t>(uniform(0, 160));
  const uint32_t usable = (size + 3) & ~3u;
  ASSERT_EQ(mda_Realloc(0, root_, word_at(p.slot), size, p.slot), 0u);
  if (n.kind == Node::kBytes) {
    n.bytes.resize(std::min<std::size_t>(n.bytes.size(), size));
  } else {
    n.kids.resize(usable / 8);  // slots cut off take their blocks with them
  }
}

void Shadow::resize_array(const Place &p) {
  Node &n = *p.parent->kids[p.index];
  std::vector<uint32_t> dims;
  const int64_t ndims = n.kind == Node::kStructArray ? uniform(1, 3) : uniform(1, 5);
  for (int64_t d = 0; d < ndims; ++d) dims.push_back(static_cast<uint32_t>(uniform(1, 4)));
  const bool fresh = uniform(0, 9) == 0;
  int32_t d[5] = {1, 1, 1, 1, 1};
  for (std::size_t i = 0; i < dims.size(); ++i) d[i] = static_cast<int32_t>(dims[i]);
  ASSERT_EQ(mda_ReallocArray(fresh ? MDA_REALLOC_FRESH : 0, root_, word_at(p.slot),
                             n.element_size(), p.slot, static_cast<int32_t>(ndims), d[0], d[1],
                             d[2], d[3], d[4]),
            0u);
  // Elements whose index (dimensions padded with leading ones) lies in both shapes keep their
  // value and what hangs from them; the rest is new and empty.
  std::vector<uint64_t> from(5, 1), to(5, 1);
  for (std::size_t i = 0; i < n.dims.size(); ++i) from[5 - n.dims.size() + i] = n.dims[i];
  for (std::size_t i = 0; i < dims.size(); ++i) to[5 - dims.size() + i] = dims[i];
  std::vector<int64_t> values(product(dims), 0);
  std::vector<std::unique_ptr<Node>> kids(n.kind == Node::kStructArray ? values.size() : 0);
  for (uint64_t f = 0; f < values.size() && !fresh; ++f) {
    uint64_t rest = f, index[5];
    for (int t = 4; t >= 0; --t) {
      index[t] = rest % to[t];
      rest /= to[t];
    }
    bool common = true;
    uint64_t old = 0;
    for (int t = 0; t < 5; ++t) {
      common = common && index[t] < from[t];
      old = old * from[t] + index[t];
    }
    if (!common) continue;
    values[f] = n.values[old];
    if (!kids.empty()) kids[f] = std::move(n.kids[old]);
  }
  n.dims = dims;
  n.values = values;
  n.kids = std::move(kids);
}

void Shadow::step() {
  std::vector<Place> all;
  places(root_node_, static_cast<char *>(root_), &all);
  std::vector<Place> empty, full;
  for (const Place &p : all) (p.parent->kids[p.index] ? full : empty).push_back(p);
  const int64_t op = uniform(0, 99);
  last = "nothing";
  if (op < 40 && !empty.empty() && full.size() < 60) {
    last = "allocate";
    allocate(empty[static_cast<std::size_t>(uniform(0, static_cast<int64_t>(empty.size()) - 1))]);
    return;
  }
  if (full.empty()) return;
  const Place p = full[static_cast<std::size_t>(uniform(0, static_cast<int64_t>(full.size()) - 1))];
  Node &n = *p.parent->kids[p.index];
  if (op < 55) {
    last = n.kind == Node::kBytes || n.kind == Node::kHolder ? "realloc" : "resize array";
    if (n.kind == Node::kBytes || n.kind == Node::kHolder) reallocate(p);
    else resize_array(p);
  } else if (op < 75) {
    last = "free";
    ASSERT_EQ(mda_Free(n.array_block() ? MDA_FREE_ARRAY : 0, root_, word_at(p.slot)), 0u);
    std::memset(p.slot, 0, 8);  // the caller clears the field
    p.parent->kids[p.index].reset();
  } else if (op < 85) {
    last = "duplicate";
    void *copy = nullptr;
    ASSERT_EQ(mda_DuplicateMemory(0, 1, root_, &copy), 0u);
    verify(copy, "copy");
    mda_FreeEntityMemory(0, copy);
  } else if (op < 95) {
    last = "move the entity";
    const uint32_t size = kRootSize + static_cast<uint32_t>(uniform(0, 64));
    ASSERT_EQ(mda_Realloc(0, root_, root_, size, &root_), 0u);
  } else if (op == 99 && RandomDriver::step() % 7 == 0) {
    last = "free attached";
    ASSERT_EQ(mda_FreeAttached(0, root_), 0u);
    std::memset(static_cast<char *>(root_) + 24, 0, 8 * kRootSlots);
    for (auto &k : root_node_.kids) k.reset();
  }
}

void Shadow::check(Node &n, char *user, std::set<MBlock *> *seen, const std::string &path) {
  ASSERT_NE(user, nullptr) << path;
  MBlock *b = mda::find_block(user);
  ASSERT_NE(b, nullptr) << path;
  EXPECT_EQ(b->type, n.array_block() ? MDA_MBLOCK_ARRAY : MDA_MBLOCK_PLAIN) << path;
  EXPECT_TRUE(seen->insert(b).second) << path << " reached twice";
  if (n.kind == Node::kBytes) {
    ASSERT_GE(b->size - 40, n.bytes.size()) << path;
    EXPECT_TRUE(n.bytes.empty() || std::memcmp(user, n.bytes.data(), n.bytes.size()) == 0) << path;
    return;
  }
  if (n.kind != Node::kHolder) {
    ASSERT_GE(b->size - 40, n.values.size() * n.element_size()) << path;
    char *e = elements_of(n, user);
    for (std::size_t f = 0; f < n.values.size(); ++f) {
      int64_t v;
      std::memcpy(&v, e + f * n.element_size(), 8);
      ASSERT_EQ(v, n.values[f]) << path << " element " << f;
    }
  }
  for (std::size_t i = 0; i < n.kids.size(); ++i) {
    char *child = word_at(slot_of(n, user, i));
    if (n.kids[i]) {
      check(*n.kids[i], child, seen, path + "/" + std::to_string(i));
    } else if (n.kind == Node::kStructArray) {
      EXPECT_EQ(child, nullptr) << path << "/" << i;
    }
  }
}

void Shadow::verify(void *root, const char *what) {
  ASSERT_EQ(chain_fault(root), "") << what;
  std::set<MBlock *> seen{mda::header_of(root)};
  for (int i = 0; i < kRootSlots; ++i) {
    char *child = word_at(static_cast<char *>(root) + 24 + 8 * i);
    if (root_node_.kids[i]) check(*root_node_.kids[i], child, &seen, what + std::to_string(i));
  }
  std::vector<MBlock *> chain = chain_of(root);
  EXPECT_EQ(std::set<MBlock *>(chain.begin(), chain.end()), seen) << what;
  EXPECT_EQ(chain.size(), seen.size()) << what;
}

using RandomBlockTest = LibraryTest;

TEST_F(RandomBlockTest, ChainsStaySoundUnderRandomAllocationAndRelocation) {
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Shadow shadow(seed);
    shadow.run(2500, {{1, [&] { shadow.step(); }}}, [&] {
      shadow.verify();
      if (HasFailure()) ADD_FAILURE() << shadow.where() << ": " << shadow.last;
    });
    ASSERT_FALSE(HasFailure());
  }
}

}  // namespace
}  // namespace tesmar::test
