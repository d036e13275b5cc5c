// The run of `tesmar translate`: detect and decompress the input, read the settings (a
// configuration file and command-line overrides), read the IGES file into the source model, run
// the mappings (a mapping file may change them) into the target model, write the DXF file, save
// the models when asked, and report what was done.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "messages.h"
#include "records.h"
#include "translate.h"

namespace tesmar::translate {
namespace {

// The settings schema's entities (samples/translate.ddl).
struct InputSettings {
  mda_EntityHeader header;
  char *units;
  double scale;
  char *surfaces;
};
struct OutputSettings {
  mda_EntityHeader header;
  char *release, *layers, *unsupported;
  int32_t precision;
};

const char *type_name(int32_t type) {
  switch (type) {
    case TMX_FILETYPE_ACIS_TEXT: return "an ACIS text file";
    case TMX_FILETYPE_ACIS_BINARY: return "an ACIS binary file";
    case TMX_FILETYPE_DXF: return "a DXF file";
    case TMX_FILETYPE_DXF_BINARY: return "a binary DXF file";
    case TMX_FILETYPE_DWG: return "a DWG file";
    case TMX_FILETYPE_IGES_BINARY: return "a binary IGES file";
    case TMX_FILETYPE_MODEL: return "a saved-model file";
    case TMX_FILETYPE_STEP: return "a STEP file";
    case TMX_FILETYPE_VDAFS: return "a VDAFS file";
    case TMX_FILETYPE_AP242_XML: return "an AP242 XML file";
    default: return "of no known type";
  }
}

const char *entity_name(int type) {
  switch (type) {
    case 100: return "circular arc"; case 102: return "composite curve"; case 104: return "conic arc";
    case 106: return "copious data"; case 108: return "plane"; case 110: return "line";
    case 112: return "parametric spline curve"; case 114: return "parametric spline surface";
    case 116: return "point"; case 118: return "ruled surface"; case 120: return "surface of revolution";
    case 122: return "tabulated cylinder"; case 123: return "direction"; case 124: return "transformation matrix";
    case 126: return "rational B-spline curve"; case 128: return "rational B-spline surface";
    case 141: return "boundary"; case 142: return "curve on a surface"; case 143: return "bounded surface";
    case 144: return "trimmed surface"; case 186: return "manifold solid B-rep";
    case 190: return "plane surface"; case 192: return "cylindrical surface"; case 194: return "conical surface";
    case 196: return "spherical surface"; case 198: return "toroidal surface";
    case 202: case 206: case 212: case 214: case 216: case 218: case 220: case 222:
      return type == 212 ? "general note" : "dimension or annotation";
    case 308: return "subfigure definition"; case 314: return "colour definition";
    case 402: return "associativity"; case 406: return "property"; case 408: return "subfigure instance";
    case 410: return "view"; case 502: return "vertex list"; case 504: return "edge list";
    case 508: return "loop"; case 510: return "face"; case 514: return "shell";
    default: return "entity";
  }
}

bool surface_type(int type) {
  return type == 108 || type == 114 || type == 118 || type == 120 || type == 122 || type == 128 ||
         type == 140 || type == 143 || type == 144 || type == 186 || (type >= 190 && type <= 198) ||
         (type >= 502 && type <= 514);
}

// Millimetres per unit of an IGES units flag (3: the units name says).
double millimetres(int flag) {
  static const double kMm[] = {0, 25.4, 1, 0, 304.8, 1609344, 1000, 1e6, 0.0254, 0.001, 10, 0.0000254};
  return flag >= 1 && flag <= 11 ? kMm[flag] : 0;
}

// The units flag of a name (Global parameter 15 or the setting `units`); 0 for none.
int units_flag(std::string name) {
  for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char *const kNames[][2] = {
      {"IN", "1"}, {"INCH", "1"}, {"INCHES", "1"}, {"MM", "2"}, {"FT", "4"}, {"FOOT", "4"},
      {"FEET", "4"}, {"MI", "5"}, {"MILE", "5"}, {"M", "6"}, {"METER", "6"}, {"METRE", "6"},
      {"KM", "7"}, {"MIL", "8"}, {"UM", "9"}, {"MICRON", "9"}, {"CM", "10"}, {"UIN", "11"}};
  for (const auto &n : kNames)
    if (name == n[0]) return std::atoi(n[1]);
  return 0;
}

std::string string_or(const char *s, const char *fallback) {
  return s != nullptr && *s != '\0' ? s : fallback;
}

// Messages of a code issued so far.
int64_t issued(mpm_Status code) {
  mpm_CountRecord key{static_cast<int32_t>(code), 0, 0, 0};
  const auto *r = static_cast<const mpm_CountRecord *>(
      otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, mpm_count_tree, &key));
  return r != nullptr ? r->total : 0;
}

// Errors reported so far, but for the reader's notes: an integer taken as a double, a setting
// given again.
int64_t settings_errors() {
  return int64_t{mpm_severity_counts[3]} + mpm_severity_counts[4] - issued(CFG_I_TO_D) -
         issued(CFG_PARAM_REDEC);
}

bool read_settings(const Options &o, ddf_Schema *schema, Settings *s) {
  // The reader reports everything as an error, and passes over a bad statement or value and goes
  // on: what it reports, but for its notes, refuses the run.
  const int64_t errors_before = settings_errors();
  char *text = nullptr, *rest = nullptr;
  if (!o.settings.empty()) {
    std::vector<char *> argv{const_cast<char *>("translate")};
    for (const std::string &a : o.settings) argv.push_back(const_cast<char *>(a.c_str()));
    if (cfg_SplitCmdLine(0, static_cast<int32_t>(argv.size()), argv.data(), schema, &text, &rest) != 0)
      return false;
    if (rest != nullptr) {
      std::fprintf(stderr, "tesmar translate: not settings: %s\n", rest);
      std::free(text), std::free(rest);
      return false;
    }
  }
  int32_t model = 0;
  const mpm_Status status = o.config.empty() ? cfg_ParseFile(CFG_TEXT, schema, "", text, &model)
                                             : cfg_ParseFile(0, schema, o.config.c_str(), text, &model);
  std::free(text);
  if (status != 0 || settings_errors() != errors_before) {
    if (status == 0) std::fprintf(stderr, "tesmar translate: the settings have errors (above)\n");
    if (model != 0) cfg_FreeModel(0, model);
    return false;
  }
  bool ok = true;
  db_ptr e = 0;
  void *m = nullptr;
  if (cfg_GetEntity(model, 1u << 16, &e) == 0 && mda_LockEntity(0, e, &m) == 0) {
    const auto *in = static_cast<const InputSettings *>(m);
    s->units = string_or(in->units, "file");
    s->scale = in->scale;
    const std::string surfaces = string_or(in->surfaces, "boundaries");
    s->surface_boundaries = surfaces == "boundaries";
    if (surfaces != "boundaries" && surfaces != "skip") {
      std::fprintf(stderr, "tesmar translate: surfaces = \"%s\": \"boundaries\" or \"skip\"\n", surfaces.c_str());
      ok = false;
    }
    mda_UnlockEntity(0, e);
  }
  if (cfg_GetEntity(model, 2u << 16, &e) == 0 && mda_LockEntity(0, e, &m) == 0) {
    const auto *out = static_cast<const OutputSettings *>(m);
    s->release = string_or(out->release, "R2000");
    const std::string layers = string_or(out->layers, "name");
    s->layers_by_name = layers == "name";
    const std::string unsupported = string_or(out->unsupported, "report");
    s->report_unsupported = unsupported != "quiet";
    s->precision = out->precision;
    if ((layers != "name" && layers != "level") || (unsupported != "report" && unsupported != "quiet")) {
      std::fprintf(stderr, "tesmar translate: layers is \"name\" or \"level\", unsupported \"report\" or \"quiet\"\n");
      ok = false;
    }
    mda_UnlockEntity(0, e);
  }
  cfg_FreeModel(0, model);
  if (!(s->scale > 0)) {
    std::fprintf(stderr, "tesmar translate: scale must be above 0\n");
    ok = false;
  }
  return ok;
}

int32_t new_model(ddf_Schema *schema, const char *name) {
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  std::snprintf(def.name, sizeof def.name, "%s", name);
  def.schema = schema;
  def.buffer_count = 256;  // 1 MiB of page buffers: see the entity store in docs/performance.md
  int32_t model = 0;
  return mda_AllocateModel(MDA_KEEP_CURRENT, &def, &model) == 0 ? model : 0;
}

// gzip or zip input: decompressed to a scratch file first.
bool compressed(const std::string &name) {
  unsigned char magic[4] = {};
  std::FILE *f = std::fopen(name.c_str(), "rb");
  if (f == nullptr) return false;
  const std::size_t n = std::fread(magic, 1, 4, f);
  std::fclose(f);
  return (n >= 2 && magic[0] == 0x1f && magic[1] == 0x8b) ||
         (n == 4 && magic[0] == 'P' && magic[1] == 'K' && magic[2] == 3 && magic[3] == 4);
}

// A scratch file, removed when the run ends (at the library's shut-down at the latest).
struct Scratch {
  std::string name;
  bool make() {  // false, with the library's report, when no name can be had
    const char *n = ugn_TempName();
    if (n == nullptr) mpm_FlushPending(MPM_SHOW_ALL);
    else name = n;
    return n != nullptr;
  }
  ~Scratch() {
    if (!name.empty()) std::remove(name.c_str());
  }
};

// One row per IGES type: read, translated, skipped, unsupported.
void print_table(const IgesFile &file, const Counts &counts) {
  auto get = [](const std::map<int, int64_t> &m, int type) {
    auto it = m.find(type);
    return static_cast<long long>(it != m.end() ? it->second : 0);
  };
  std::printf("  type %-26s %8s %10s %8s %11s\n", "", "read", "translated", "skipped", "unsupported");
  for (const auto &[type, n] : file.read_by_type)
    std::printf("  %4d %-26s %8lld %10lld %8lld %11lld\n", type, entity_name(type),
                static_cast<long long>(n), get(counts.translated, type), get(counts.skipped, type),
                get(file.unsupported_by_type, type));
}

}  // namespace

int translate(const Options &o) {
  register_messages();
  Schemas schemas;
  std::string why;
  if (!load_schemas(&schemas, &why)) {
    std::fprintf(stderr, "tesmar translate: the translator's schemas: %s\n", why.c_str());
    free_schemas(&schemas);
    return 1;
  }
  Translator t;
  t.iges = schemas.iges, t.dxf = schemas.dxf;
  int rc = 1;
  IgesFile file;
  Scratch scratch, expanded;
  bool output_written = false;
  std::string input = o.input;
  const std::string &shown_input = o.shown_input.empty() ? o.input : o.shown_input;
  const std::string &shown_output = o.shown_output.empty() ? o.output : o.shown_output;
  do {
    if (!read_settings(o, schemas.settings, &t.settings)) break;
    if (compressed(input)) {
      if (!scratch.make() || ugn_Uncompress(0, scratch.name.c_str(), input.c_str()) != 0) break;
      input = scratch.name;
    }
    int32_t type = TMX_FILETYPE_UNKNOWN;
    void *facts = nullptr;
    if (tmx_GetFileType(0, input.c_str(), &type, &facts) != 0) {
      mpm_FlushPending(MPM_SHOW_ALL);
      break;
    }
    mpm_DiscardPending(0);  // an unknown type's warning: said below in plain words
    if (type == TMX_FILETYPE_IGES && facts != nullptr) std::free(static_cast<tmx_FileTypeIges *>(facts)->line_end);
    std::free(facts);
    if (type != TMX_FILETYPE_IGES && type != TMX_FILETYPE_IGES_COMPRESSED) {
      std::fprintf(stderr, "tesmar translate: %s: not an IGES file: it is %s\n", shown_input.c_str(), type_name(type));
      break;
    }
    if (type == TMX_FILETYPE_IGES_COMPRESSED) {  // written out in the fixed form first
      if (!expanded.make() || !expand_compressed_iges(input.c_str(), shown_input.c_str(), expanded.name.c_str(), &file))
        break;
      input = expanded.name;
    }
    t.source = new_model(schemas.iges, "iges");
    t.target = new_model(schemas.dxf, "dxf");
    if (t.source == 0 || t.target == 0) break;
    if (!read_iges(input.c_str(), shown_input.c_str(), t.source, schemas.iges, &file, o.progress)) break;
    // Units: the file's, or those the settings name; then the setting `scale`.
    int from = file.units_flag == 3 ? units_flag(file.units_name) : file.units_flag;
    if (from == 0) from = 2;
    t.output_units_flag = from;
    if (t.settings.units != "file") {
      t.output_units_flag = units_flag(t.settings.units);
      if (t.output_units_flag == 0) {
        std::fprintf(stderr, "tesmar translate: units = \"%s\": not a unit (mm, cm, m, km, inch, foot, mile, mil, micron)\n",
                     t.settings.units.c_str());
        break;
      }
    }
    const double model_scale = file.model_scale > 0 ? file.model_scale : 1.0;
    t.unit_scale = t.settings.scale * millimetres(from) / millimetres(t.output_units_flag) / model_scale;
    t.output_mm = millimetres(t.output_units_flag);
    if (file.weight_gradations >= 1 && file.max_weight > 0)  // widths are the pen's: not scaled
      t.weight_mm = file.max_weight / file.weight_gradations * millimetres(from) / model_scale;
    if (!define_mappings(&t)) {
      std::fprintf(stderr, "tesmar translate: the mappings could not be defined\n");
      mpm_FlushPending(MPM_SHOW_ALL);
      break;
    }
    // A mapping file first: a type it enables mappings for keeps only those.
    if (!o.map_file.empty() && map_LoadMapFile(0, o.map_file.c_str(), t.env) != 0) {
      mpm_FlushPending(MPM_SHOW_ALL);
      break;
    }
    if (!enable_defaults(&t)) {
      std::fprintf(stderr, "tesmar translate: the default mappings could not be enabled\n");
      mpm_FlushPending(MPM_SHOW_ALL);
      break;
    }
    run_mappings(&t, file, o.progress);
    if (!write_dxf(t, file, o.output.c_str(), &why, o.progress)) {
      std::fprintf(stderr, "tesmar translate: %s\n", why.c_str());
      break;
    }
    output_written = true;
    if (!o.save_dir.empty()) {
      const std::string s = o.save_dir + "/source.model", d = o.save_dir + "/target.model";
      if (mda_SaveModel(MDA_OVERWRITE, s.c_str(), 0, &t.source) != 0 ||
          mda_SaveModel(MDA_OVERWRITE, d.c_str(), 0, &t.target) != 0) {
        mpm_FlushPending(MPM_SHOW_ALL);
        break;
      }
    }
    rc = file.errors == 0 && t.counts.errors == 0 ? 0 : 1;
  } while (false);

  if (t.source != 0 && file.entities > 0) {
    int64_t translated = 0, skipped = 0, unsupported = 0, surfaces = 0;
    for (const auto &[type, n] : t.counts.translated) translated += n;
    for (const auto &[type, n] : t.counts.skipped) skipped += n;
    for (const auto &[type, n] : file.unsupported_by_type) {
      unsupported += n;
      if (surface_type(type)) surfaces += n;
    }
    mda_ModelDef info;
    uint64_t written = mda_GetModelInfo(t.target, &info) == 0 ? info.entity_count : 0;
    uint64_t blocks = 0;
    for (const auto &[definition, block] : t.blocks) blocks += block != 0;
    written -= std::min(written, blocks);
    std::printf("%s: %lld entities read, %lld translated, %lld skipped, %lld of unsupported types; "
                "%llu DXF entities written to %s\n",
                shown_input.c_str(), static_cast<long long>(file.entities), static_cast<long long>(translated),
                static_cast<long long>(skipped), static_cast<long long>(unsupported),
                static_cast<unsigned long long>(written), output_written ? shown_output.c_str() : "nothing");
    if (t.settings.report_unsupported && unsupported > 0) {
      std::printf("not translated (unsupported types):");
      for (const auto &[type, n] : file.unsupported_by_type)
        std::printf(" %d %s x%lld;", type, entity_name(type), static_cast<long long>(n));
      std::printf("\n");
    }
    if (surfaces > 0 || t.counts.translated.count(144) != 0 || t.counts.translated.count(143) != 0)
      std::printf("the file holds surfaces or solids: %s\n",
                  t.settings.surface_boundaries ? "their boundary curves are drawn as wireframe"
                                                : "they are not drawn (surfaces = \"skip\")");
    if (written == 0) std::printf("the drawing is empty: nothing in the file could be drawn\n");
    if (o.report) print_table(file, t.counts);
    if (file.errors > 0) std::printf("%lld errors in the IGES file\n", static_cast<long long>(file.errors));
    if (t.counts.errors > 0)
      std::printf("%lld entities not translated: their numbers overflow once placed and scaled\n",
                  static_cast<long long>(t.counts.errors));
    mpm_Printf("%<ErrorSummary>");
  }
  if (t.env != nullptr) map_DeleteEnv(0, t.env);
  if (t.source != 0) mda_FreeModel(0, t.source);
  if (t.target != 0) mda_FreeModel(0, t.target);
  free_schemas(&schemas);
  return rc;
}

}  // namespace tesmar::translate
