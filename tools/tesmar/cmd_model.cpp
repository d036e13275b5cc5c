// `tesmar model`: builds a model of the bundled geometry schema's entities in a disk-backed store,
// walks every entity's fields, and prints what it holds; saves it, shows and converts saved models.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {
namespace {

// A small deterministic generator, so that the tour prints the same model every time.
struct Random {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  uint32_t next(uint32_t n) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>((state >> 33) % n);
  }
  double real() { return static_cast<double>(next(2000001)) / 1000.0 - 1000.0; }
};

Random g_random;

// What a walk of the model found.
struct Totals {
  uint64_t entities = 0, fields = 0, elements = 0, pointers = 0, dangling = 0;
};
Totals g_totals;

mpm_Status count_field(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *desc,
                       mpm_Status *, int32_t *, void *) {
  if (desc == nullptr || type == DDF_STRUCT || type == DDF_UNIONKIND || type == DDF_SUBENT ||
      type == DDF_ENDENT)
    return 0;
  ++g_totals.fields;
  if (count <= 0 || address == nullptr) return 0;
  g_totals.elements += static_cast<uint64_t>(count);
  if (type == DDF_PTR) {
    for (int32_t i = 0; i < count; ++i) {
      db_ptr child = 0;
      std::memcpy(&child, static_cast<char *>(address) + 8 * i, sizeof child);
      if (child == 0) continue;
      ++g_totals.pointers;
      if (!mda_IsValidPtr(child)) ++g_totals.dangling;
    }
  }
  return 0;
}

int32_t visit(db_ptr ptr) {
  void *memory = nullptr;
  if (mda_LockEntity(0, ptr, &memory) != 0) return 1;
  ++g_totals.entities;
  mpm_Status status = mda_TraverseEntity2(0, memory, count_field, nullptr);
  mpm_Status unlocked = mda_UnlockEntity(0, ptr);
  return status != 0 || unlocked != 0 ? 1 : 0;
}

// Fills every element of the number fields a walk of a fresh entity reports.
mpm_Status fill_values(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *) {
  if (count <= 0 || address == nullptr) return 0;
  for (int32_t i = 0; i < count; ++i) {
    if (type == DDF_DOUBLE) {
      double v = g_random.real();
      std::memcpy(static_cast<char *>(address) + 8 * i, &v, 8);
    } else if (type == DDF_FLOAT) {
      float v = static_cast<float>(g_random.next(100)) / 10.0f;
      std::memcpy(static_cast<char *>(address) + 4 * i, &v, 4);
    }
  }
  return 0;
}

// The address of the first count field of a walk, kept in the user data.
mpm_Status find_count(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *,
                      mpm_Status *, int32_t *, void *user) {
  if (type == DDF_COUNT && count > 0 && *static_cast<void **>(user) == nullptr)
    *static_cast<void **>(user) = address;
  return 0;
}

// The pointer slots of an entity, in field order.
mpm_Status find_slots(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *,
                      mpm_Status *, int32_t *, void *user) {
  auto *slots = static_cast<std::vector<db_ptr *> *>(user);
  if (type == DDF_PTR && address != nullptr)
    for (int32_t i = 0; i < count; ++i)
      slots->push_back(reinterpret_cast<db_ptr *>(static_cast<char *>(address) + 8 * i));
  return 0;
}

// Creates one entity of the named type: counts up to `max_count`, values filled, every pointer
// slot aimed at an entity of `targets` (when there is one). Returns its handle, 0 on failure.
db_ptr make(int32_t model, const char *name, int32_t max_count,
            const std::vector<db_ptr> &targets) {
  uint32_t tf = ddf_GetTFByName(name);
  void *memory = nullptr;
  db_ptr ptr = 0;
  if (mda_AllocateEntity(MDA_SET_DEFAULTS, model, tf, &memory, &ptr) != 0) return 0;
  void *count = nullptr;
  mpm_Status status = mda_TraverseEntity2(0, memory, find_count, &count);
  if (status == 0 && count != nullptr) {
    int32_t n = 2 + static_cast<int32_t>(g_random.next(static_cast<uint32_t>(max_count - 1)));
    std::memcpy(count, &n, sizeof n);
  }
  if (status == 0) status = mda_TraverseEntity(MDA_TRAVERSE_ALLOCATE, memory, fill_values);
  if (status == 0 && std::strcmp(name, "layer") == 0) {
    char text[32];
    std::snprintf(text, sizeof text, "layer %u", g_random.next(1000));
    status = mda_SetString(0, memory, text, static_cast<char *>(memory) + sizeof(mda_EntityHeader));
  }
  std::vector<db_ptr *> slots;
  if (status == 0) status = mda_TraverseEntity2(0, memory, find_slots, &slots);
  for (db_ptr *slot : slots) {
    if (status != 0 || targets.empty()) break;
    status = mda_AddPtr(ptr, targets[g_random.next(static_cast<uint32_t>(targets.size()))], slot);
  }
  mpm_Status unlocked = mda_UnlockEntity(0, ptr);
  return status == 0 && unlocked == 0 ? ptr : 0;
}

bool parse_count(const char *text, long *value) {
  char *end = nullptr;
  errno = 0;
  *value = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && errno == 0 && *value >= 10 && *value <= 10000000;
}

// The form of a saved-model file: binary unless it begins (after blanks) with BEGIN_MODEL.
uint32_t form_of(const char *file) {
  std::FILE *f = std::fopen(file, "rb");
  char head[64] = {};
  const std::size_t n = f != nullptr ? std::fread(head, 1, sizeof head - 1, f) : 0;
  if (f != nullptr) std::fclose(f);
  std::size_t i = 0;
  while (i < n && (head[i] == ' ' || head[i] == '\t' || head[i] == '\r' || head[i] == '\n')) ++i;
  return std::strncmp(head + i, "BEGIN_MODEL", 11) == 0 ? 0 : MDA_BINARY;
}

// A memory-only model of the schema with a saved model restored into it; 0 on failure (reported).
int32_t restored(const char *file, ddf_Schema *schema) {
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  std::snprintf(def.name, sizeof def.name, "restored");
  def.schema = schema;
  def.back_ptrs = 1;
  int32_t model = 0;
  if (mda_AllocateModel(MDA_MEMORY_ONLY, &def, &model) != 0) return 0;
  if (mda_RestoreModel(form_of(file), file, 0, &model) != 0) {
    mda_FreeModel(0, model);
    return 0;
  }
  return model;
}

// `show FILE --schema S [--entity N]`, `convert IN OUT --schema S [--binary]`, and the debugging
// aids: `check FILE --schema S`, `dump FILE --schema S [--entity N]` and
// `edit FILE --schema S --entity N -o OUT`.
int run_saved(int argc, char **argv) {
  const std::string what = argv[1];
  const bool convert = what == "convert", edit = what == "edit";
  const bool takes_entity = what == "show" || what == "dump" || edit;
  const char *files[2] = {}, *schema_file = nullptr, *out = nullptr;
  int given = 0;
  long entity = 0;
  bool binary = false;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--schema") == 0 && i + 1 < argc) {
      schema_file = argv[++i];
    } else if (takes_entity && std::strcmp(argv[i], "--entity") == 0 && i + 1 < argc) {
      char *end = nullptr;
      entity = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || entity < 1) return usage_error("model", "--entity takes an entity number");
    } else if (convert && std::strcmp(argv[i], "--binary") == 0) {
      binary = true;
    } else if (edit && std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      out = argv[++i];
    } else if (argv[i][0] != '-' && given < (convert ? 2 : 1)) {
      files[given++] = argv[i];
    } else {
      return usage_error("model", (std::string("unexpected argument ") + argv[i]).c_str());
    }
  }
  if (given != (convert ? 2 : 1) || schema_file == nullptr)
    return usage_error("model", convert ? "convert takes IN, OUT and --schema SCHEMA.ddf"
                                        : (what + " takes a saved model FILE and --schema SCHEMA.ddf").c_str());
  if (edit && (entity == 0 || out == nullptr)) return usage_error("model", "edit takes --entity N and -o OUT");
  if (!check_input("model", files[0]) || !check_input("model", schema_file)) return 1;
  if (convert && !check_output("model", files[0], files[1])) return 1;
  if (edit && !check_output("model", files[0], out)) return 1;
  ddf_Schema *schema = nullptr;
  if (ddf_ReadBinaryDDF(0, schema_file, &schema) != 0) {
    show_pending();
    return 1;
  }
  int rc = 1;
  const int32_t model = restored(files[0], schema);
  const db_ptr p = MDA_MAKE_PTR(model, static_cast<uint64_t>(entity));
  if (model != 0 && entity != 0 && mda_IsValidPtr(p) == 0) {
    std::fprintf(stderr, "tesmar model: %s holds no entity %ld\n", files[0], entity);
  } else if (model != 0 && convert) {
    rc = mda_SaveModel(MDA_OVERWRITE | (binary ? MDA_BINARY : 0), files[1], 0, &model) == 0 ? 0 : 1;
  } else if (model != 0 && what == "check") {
    // Every finding is a warning on the debugging stream; any makes the exit status 1.
    mda_DbgStream = stdout;
    const int32_t warnings = mpm_severity_counts[2];
    const mpm_Status entities = mda_DbgCheckModelEntities(0, model);
    const mpm_Status back = mda_DbgCheckModelBackPtrs(0, model);
    const bool found = entities != 0 || back != 0 || mpm_severity_counts[2] != warnings;
    mda_ModelDef info;
    mda_GetModelInfo(model, &info);
    std::printf("%s: %llu entities checked: %s\n", files[0], static_cast<unsigned long long>(info.entity_count),
                found ? "findings above" : "no findings");
    rc = found ? 1 : 0;
  } else if (model != 0 && what == "dump") {
    mda_DbgStream = stdout;
    rc = (entity != 0 ? mda_DbgDumpEntity(0, p) : mda_DbgDumpModel(0, model)) == 0 ? 0 : 1;
  } else if (model != 0 && edit) {
    mda_DbgStream = stdout;
    rc = mda_DbgEditEntity(0, p, 0, 0) == 0 &&
                 mda_SaveModel(MDA_OVERWRITE | form_of(files[0]), out, 0, &model) == 0
             ? 0
             : 1;
  } else if (model != 0) {
    mda_SetCurrentModel(model, 0);
    mpm_Printf("%<ModelList>");
    rc = 0;
    if (entity != 0) {
      void *memory = nullptr;
      if (mda_LockEntity(0, p, &memory) == 0) {
        std::printf("entity %ld:\n", entity);
        std::fflush(stdout);
        mda_TraverseEntity(0, memory, mda_DumpFieldCallback);
        mda_UnlockEntity(0, p);
      } else {
        rc = 1;
      }
    }
  }
  std::fflush(stdout);
  show_pending();
  if (model != 0) mda_FreeModel(0, model);
  ddf_FreeSchema(0, schema);
  return rc;
}

int run(int argc, char **argv) {
  if (argc >= 2)
    for (const char *sub : {"show", "convert", "check", "dump", "edit"})
      if (std::strcmp(argv[1], sub) == 0) return run_saved(argc, argv);
  const char *file = nullptr, *save = nullptr;
  long entities = 5000;
  bool memory_only = false, binary = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--entities") == 0) {
      if (i + 1 >= argc || !parse_count(argv[++i], &entities))
        return usage_error("model", "--entities takes a number from 10 to 10000000");
    } else if (std::strcmp(argv[i], "--save") == 0 && i + 1 < argc) {
      save = argv[++i];
    } else if (std::strcmp(argv[i], "--binary") == 0) {
      binary = true;
    } else if (std::strcmp(argv[i], "--memory") == 0) {
      memory_only = true;
    } else if (file == nullptr && argv[i][0] != '-') {
      file = argv[i];
    } else {
      return usage_error("model", "takes one binary schema file");
    }
  }
  if (file == nullptr) return usage_error("model", "needs a binary schema file");
  ddf_Schema *schema = nullptr;
  if (ddf_ReadBinaryDDF(0, file, &schema) != 0) {
    mpm_FlushPending(MPM_SHOW_ALL);
    return 1;
  }
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  std::snprintf(def.name, sizeof def.name, "tour");
  def.schema = schema;
  def.back_ptrs = 1;
  def.statistics = memory_only ? 0 : 1;
  int32_t model = 0;
  int rc = 1;
  if (mda_AllocateModel(memory_only ? MDA_MEMORY_ONLY : 0, &def, &model) == 0) {
    for (const char *name : {"point", "layer", "line", "arc", "polyline", "group"})
      if (ddf_GetTFByName(name) == TF_NONE) {
        std::fprintf(stderr, "tesmar model: the schema has no entity \"%s\"\n", name);
        goto done;
      }
    {
      // A tenth layers and groups, a third points, the rest lines, arcs and polylines pointing
      // at them.
      std::vector<db_ptr> layers, points, all;
      long made = 0;
      for (; made < entities; ++made) {
        db_ptr p = 0;
        uint32_t pick = g_random.next(30);
        if (layers.empty() || pick < 2) {
          p = make(model, "layer", 2, {});
          layers.push_back(p);
        } else if (points.size() < 2 || pick < 12) {
          p = make(model, "point", 2, {});
          points.push_back(p);
        } else if (pick < 20) {
          p = make(model, "line", 2, pick < 16 ? points : layers);
        } else if (pick < 24) {
          p = make(model, "arc", 2, layers);
        } else if (pick < 29) {
          p = make(model, "polyline", 12, points);
        } else {
          p = make(model, "group", 8, all);
        }
        if (p == 0) break;
        all.push_back(p);
      }
      if (made < entities) {
        mpm_FlushPending(MPM_SHOW_ALL);
        goto done;
      }
      std::printf("built %ld entities in a %s model\n", made,
                  memory_only ? "memory-only" : "disk-backed");
      if (mda_TraverseModel(0, model, visit) != 0) {
        mpm_FlushPending(MPM_SHOW_ALL);
        goto done;
      }
      std::printf("walked %llu entities: %llu fields, %llu elements, %llu pointers (%llu dangling)\n",
                  static_cast<unsigned long long>(g_totals.entities),
                  static_cast<unsigned long long>(g_totals.fields),
                  static_cast<unsigned long long>(g_totals.elements),
                  static_cast<unsigned long long>(g_totals.pointers),
                  static_cast<unsigned long long>(g_totals.dangling));
      mda_SetCurrentModel(model, 0);
      mpm_Printf("%<ModelList>");
      mpm_Printf("%<ErrorSummary>");
      rc = g_totals.dangling == 0 && g_totals.entities == static_cast<uint64_t>(made) ? 0 : 1;
      if (save != nullptr) {
        if (mda_SaveModel(MDA_OVERWRITE | (binary ? MDA_BINARY : 0), save, 0, &model) == 0) {
          std::printf("saved the model to %s (%s form)\n", save, binary ? "binary" : "text");
        } else {
          show_pending();
          rc = 1;
        }
      }
    }
  done:
    mda_FreeModel(0, model);  // a disk-backed model prints its paged file's statistics here
  } else {
    mpm_FlushPending(MPM_SHOW_ALL);
  }
  ddf_FreeSchema(0, schema);
  return rc;
}

const Registrar registrar{
    {"model", "build a model of the geometry schema's entities, walk it, list it",
     "usage: tesmar model SCHEMA.ddf [--entities N] [--memory] [--save FILE [--binary]]\n"
     "       tesmar model show FILE --schema SCHEMA.ddf [--entity N]\n"
     "       tesmar model convert IN OUT --schema SCHEMA.ddf [--binary]\n"
     "       tesmar model check FILE --schema SCHEMA.ddf\n"
     "       tesmar model dump FILE --schema SCHEMA.ddf [--entity N]\n"
     "       tesmar model edit FILE --schema SCHEMA.ddf --entity N -o OUT\n\n"
     "Reads a binary schema holding the bundled geometry schema's entities (tesmar ddl compile\n"
     "samples/geometry.ddl), builds N entities (default 5000) in a disk-backed model with a\n"
     "32-entry cache (or, with --memory, a memory-only one): layers and points, lines, arcs and\n"
     "polylines pointing at them, groups of earlier entities. It then walks every field of every\n"
     "entity, checking that each pointer names a live entity, and prints the model listing, the\n"
     "error summary and the paged file's statistics. --save writes the model to a saved-model\n"
     "file (docs/saved-model.md), in the text form or with --binary the binary one.\n\n"
     "show restores a saved model (either form) and prints its listing, and with --entity N the\n"
     "fields of entity N. convert restores IN and writes it to OUT in the text form, or with\n"
     "--binary the binary one.\n\n"
     "The debugging aids (docs/entity-database.md): check restores a saved model and runs the\n"
     "consistency checks (memory blocks, back pointers), printing each finding; exit status 1 on\n"
     "any. dump prints entity dumps (every entity, or entity N). edit runs the field editor on\n"
     "entity N, reading answers from standard input, and saves the model to OUT in FILE's form.\n",
     run}};

}  // namespace
}  // namespace tesmar::cli
