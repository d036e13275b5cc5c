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
  const char *schema_file = nullptr, *out_name = nullptr;
  int32_t entity_value = 0, binary = 0, force = 0;
  std::vector<ugn_Option> options{{"-schema", "s+", "SCHEMA.ddf", &schema_file, "the model's binary schema"}};
  if (takes_entity)
    options.push_back({"-entity", edit ? "i+" : "i", "N", &entity_value, "the entity's number"});
  if (convert) options.push_back({"-binary", "f", nullptr, &binary, "write the binary form"});
  if (edit) options.push_back({"o", "s+", "OUT", &out_name, "the saved model to write"});
  if (convert || edit) {
    options.push_back({"f", "f", nullptr, &force, "replace the output if it exists"});
    options.push_back({"-force", "f", nullptr, &force, "the same as -f"});
  }
  options.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
  const std::string synopsis = convert ? "IN OUT" : "FILE";
  Args args;
  if (const int parsed = parse_args(options.data(), synopsis.c_str(), argc - 1, argv + 1, &args); parsed != 0)
    return parsed;
  if (args.operands.size() != (convert ? 2u : 1u))
    return usage_error(convert ? "convert takes IN and OUT" : (what + " takes one saved model FILE").c_str());
  if (takes_entity && (entity_value < 0 || (edit && entity_value == 0)))
    return usage_error("--entity takes an entity number from 1");
  const long entity = entity_value;
  const char *files[2] = {input_file(args.operands[0]), nullptr};
  if (files[0] == nullptr || (schema_file = input_file(schema_file)) == nullptr) return 1;
  Output out;
  if ((convert || edit) && !out.prepare(convert ? args.operands[1] : out_name, {files[0], schema_file}, force != 0))
    return 1;
  if (convert) files[1] = out.path();
  out_name = out.path();
  ddf_Schema *schema = nullptr;
  if (ddf_ReadBinaryDDF(0, schema_file, &schema) != 0) {
    show_pending();
    return 1;
  }
  int rc = 1;
  const int32_t model = restored(files[0], schema);
  const db_ptr p = MDA_MAKE_PTR(model, static_cast<uint64_t>(entity));
  if (model != 0 && entity != 0 && mda_IsValidPtr(p) == 0) {
    diag("%s holds no entity %ld", args.operands[0], entity);
  } else if (model != 0 && convert) {
    rc = mda_SaveModel(binary ? MDA_BINARY : 0, files[1], 0, &model) == 0 ? 0 : 1;
  } else if (model != 0 && what == "check") {
    // Every finding is a warning on the debugging stream; any makes the exit status 1.
    mda_DbgStream = stdout;
    const int32_t warnings = mpm_severity_counts[2];
    const mpm_Status entities = mda_DbgCheckModelEntities(0, model);
    const mpm_Status back = mda_DbgCheckModelBackPtrs(0, model);
    const bool found = entities != 0 || back != 0 || mpm_severity_counts[2] != warnings;
    mda_ModelDef info;
    mda_GetModelInfo(model, &info);
    std::printf("%s: %llu entities checked: %s\n", escaped(args.operands[0]).c_str(),
                static_cast<unsigned long long>(info.entity_count),
                found ? "findings above" : "no findings");
    rc = found ? 1 : 0;
  } else if (model != 0 && what == "dump") {
    mda_DbgStream = stdout;
    rc = (entity != 0 ? mda_DbgDumpEntity(0, p) : mda_DbgDumpModel(0, model)) == 0 ? 0 : 1;
  } else if (model != 0 && edit) {
    mda_DbgStream = stdout;
    rc = mda_DbgEditEntity(0, p, 0, 0) == 0 &&
                 mda_SaveModel(form_of(files[0]), out_name, 0, &model) == 0
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
  if (rc == 0 && (convert || edit) && !out.commit()) rc = 1;
  return rc;
}

int run(int argc, char **argv) {
  if (argc >= 2)
    for (const char *sub : {"show", "convert", "check", "dump", "edit"})
      if (std::strcmp(argv[1], sub) == 0) return run_saved(argc, argv);
  const char *save_name = nullptr;
  int32_t entities_value = 5000, memory_flag = 0, binary = 0, force = 0;
  const ugn_Option options[] = {
      {"-entities", "i", "N", &entities_value, "how many entities to build (10 to 10000000)"},
      {"-memory", "f", nullptr, &memory_flag, "a memory-only model"},
      {"-save", "s", "FILE", &save_name, "save the model to a saved-model file"},
      {"-binary", "f", nullptr, &binary, "save it in the binary form"},
      {"f", "f", nullptr, &force, "replace the saved-model file if it exists"},
      {"-force", "f", nullptr, &force, "the same as -f"},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  Args args;
  if (const int parsed = parse_args(options, "SCHEMA.ddf", argc, argv, &args); parsed != 0) return parsed;
  if (args.operands.size() != 1) return usage_error("takes one binary schema file");
  if (entities_value < 10 || entities_value > 10000000)
    return usage_error("--entities takes a number from 10 to 10000000");
  const long entities = entities_value;
  const bool memory_only = memory_flag != 0;
  const char *file = input_file(args.operands[0]);
  if (file == nullptr) return 1;
  Output out;
  if (save_name != nullptr && !out.prepare(save_name, {file}, force != 0)) return 1;
  const char *save = save_name != nullptr ? out.path() : nullptr;
  ddf_Schema *schema = nullptr;
  if (ddf_ReadBinaryDDF(0, file, &schema) != 0) {
    show_pending();
    return 1;
  }
  // The entity types the model is built of, checked before a paged file exists.
  {
    ddf_Schema *previous = ddf_current;
    ddf_current = schema;
    for (const char *name : {"point", "layer", "line", "arc", "polyline", "group"}) {
      ddf_last_tf = TF_NONE;
      if (ddf_GetTFByName(name) == TF_NONE) {
        diag("%s has no entity type \"%s\": the model is built of the types of samples/geometry.ddl",
             args.operands[0], name);
        ddf_current = previous;
        ddf_last_tf = TF_NONE;
        ddf_FreeSchema(0, schema);
        return 1;
      }
    }
    ddf_current = previous;
    ddf_last_tf = TF_NONE;
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
        show_pending();
        goto done;
      }
      std::printf("built %ld entities in a %s model\n", made,
                  memory_only ? "memory-only" : "disk-backed");
      if (mda_TraverseModel(0, model, visit) != 0) {
        show_pending();
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
        if (mda_SaveModel(binary ? MDA_BINARY : 0, save, 0, &model) == 0 && out.commit()) {
          std::printf("saved the model to %s (%s form)\n", escaped(save_name).c_str(),
                      binary ? "binary" : "text");
        } else {
          show_pending();
          rc = 1;
        }
      }
    }
  done:
    mda_FreeModel(0, model);  // a disk-backed model prints its paged file's statistics here
  } else {
    show_pending();
  }
  ddf_FreeSchema(0, schema);
  return rc;
}

const Registrar registrar{
    {"model", "build a model of the geometry schema's entities, walk it, list it",
     "usage: tesmar model SCHEMA.ddf [--entities N] [--memory] [--save FILE [--binary]] [-f]\n"
     "       tesmar model show FILE --schema SCHEMA.ddf [--entity N]\n"
     "       tesmar model convert IN OUT --schema SCHEMA.ddf [--binary] [-f]\n"
     "       tesmar model check FILE --schema SCHEMA.ddf\n"
     "       tesmar model dump FILE --schema SCHEMA.ddf [--entity N]\n"
     "       tesmar model edit FILE --schema SCHEMA.ddf --entity N -o OUT [-f]\n\n"
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
     "entity N, reading answers from standard input, and saves the model to OUT in FILE's form.\n\n"
     "An existing output (--save FILE, convert's OUT, edit's OUT) is replaced only with -f\n"
     "(--force); an output - is standard output and an input - standard input.\n"
     "Exit status: 0 success, 1 the work failed, 2 a usage error.\n",
     run}};

}  // namespace
}  // namespace tesmar::cli
