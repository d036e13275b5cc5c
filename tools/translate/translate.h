// `tesmar translate`: IGES in, DXF out, through the library's public interface. The parts:
//   schemas.cpp     the two schemas (samples/iges.ddl, samples/dxf.ddl) and the settings schema
//   iges_reader.cpp the IGES file into a source model
//   iges_compressed.cpp the compressed ASCII form, written out in the fixed form for the reader
//   mappings.cpp    the mappings from IGES entities to DXF entities, run by the mapping engine
//   dxf_writer.cpp  the target model into an ASCII DXF file
//   translate.cpp   the run: detection, decompression, settings, mapping file, report
// docs/translator.md walks through them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "tesmar/tesmar.h"

namespace tesmar::translate {

// What a run is asked to do.
struct Options {
  std::string input, output;
  std::string shown_input, shown_output;  // the names reports give them; empty: input, output
  std::string config;        // a configuration file (samples/translate.ddl's schema); empty: none
  std::string map_file;      // a mapping file; empty: none
  std::string save_dir;      // a directory for the saved source and target models; empty: none
  bool report = false;       // the table of entities read, translated and skipped by type
  bool progress = false;     // progress lines on standard error
  std::vector<std::string> settings;  // "-KEY VALUE" pairs overriding the configuration
};

// Settings read from the configuration (samples/translate.ddl).
struct Settings {
  std::string units = "file";  // "file", or a unit name: mm, cm, m, km, inch, foot, mile, mil, micron
  double scale = 1.0;
  bool surface_boundaries = true;  // surfaces = "boundaries"
  std::string release = "R2000";
  bool layers_by_name = true;      // layers = "name"
  bool report_unsupported = true;  // unsupported = "report"
  int precision = 1;               // 1: 16 significant digits; 0: 12
};

// The schemas, compiled into memory at start-up.
struct Schemas {
  ddf_Schema *iges = nullptr, *dxf = nullptr, *settings = nullptr;
};
bool load_schemas(Schemas *schemas, std::string *why);
void free_schemas(Schemas *schemas);

// The facts of the IGES file that the target needs.
struct IgesFile {
  std::string name;
  int units_flag = 2;             // Global parameter 14
  std::string units_name;         // Global parameter 15
  double model_scale = 1.0;       // Global parameter 13
  int weight_gradations = 0;      // Global parameter 16: line weight numbers 1 to this
  double max_weight = 0;          // Global parameter 17: the width of the heaviest, in file units
  int64_t entities = 0;           // directory entries read
  int64_t errors = 0;             // located errors reported
  std::map<int, int64_t> read_by_type, unsupported_by_type;
  std::vector<uint8_t> top_level; // per entity number: translated on its own (not dependent)
};

// The translator's message table (module TRN), registered once.
void register_messages();

// Reads an IGES file into `model` (an empty model of the IGES schema); entity number k holds the
// k-th directory entry. Malformed input gives located errors (reported, naming the file `shown`)
// and a partial result; false only when nothing could be read.
bool read_iges(const char *file_name, const char *shown, int32_t model, ddf_Schema *schema,
               IgesFile *file, bool progress);

// The delimiters the text of a Global section names, each as 1Hc or left out (',' and ';'), and
// in *rest where its third parameter begins. False when they are unusable: ',' and ';' are given.
bool global_delimiters(const std::string &text, char *pd, char *rd, std::size_t *rest);

// Writes a compressed ASCII IGES file out in the fixed form (`output`), for read_iges. Faults give
// located errors (naming `shown`, counted in file->errors) and are passed over; false only when
// the input cannot be read or the output written.
bool expand_compressed_iges(const char *input, const char *shown, const char *output, IgesFile *file);

// Counts of a translation, by IGES type.
struct Counts {
  std::map<int, int64_t> translated, skipped;
  int64_t errors = 0;  // entities the DXF file cannot hold (their numbers overflow)
};

// The mappings, and the state they share during a run.
struct Translator {
  map_Env *env = nullptr;
  ddf_Schema *iges = nullptr, *dxf = nullptr;
  int32_t source = 0, target = 0;
  Settings settings;
  double unit_scale = 1.0;     // the file's units to the output's, times the setting `scale`
  int output_units_flag = 2;   // the output's units as an IGES units flag
  double output_mm = 1;        // millimetres per output unit
  double weight_mm = 0;        // millimetres of line width per IGES weight number; 0: none
  Counts counts;
  std::unordered_map<int32_t, std::string> level_names;  // from 406-3
  std::unordered_map<db_ptr, db_ptr> blocks;             // 308 definition -> DXF block
  std::vector<std::vector<int32_t>> groups;  // per 402 group: its members' directory entries
};
// Defines the mappings in a new environment (and "NAME ignore" for every IGES type).
bool define_mappings(Translator *t);
// Enables the default mappings of every IGES type for which a mapping file enabled nothing.
bool enable_defaults(Translator *t);
// Runs every top-level entity of the source model through the engine.
bool run_mappings(Translator *t, const IgesFile &file, bool progress);

// Writes the target model as an ASCII DXF file (whole under a temporary name, then renamed).
// `progress`: a count on standard error, when it is a terminal.
bool write_dxf(const Translator &t, const IgesFile &file, const char *output, std::string *why,
               bool progress);

// The whole run; the process exit status (0 done, 1 failed).
int translate(const Options &options);

}  // namespace tesmar::translate
