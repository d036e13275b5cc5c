// `tesmar translate INPUT -o OUTPUT.dxf`: the sample translator (tools/translate/,
// docs/translator.md).
#include <unistd.h>


#include "command.h"
#include "translate.h"

namespace tesmar::cli {
namespace {

const char kUsage[] =
    "usage: tesmar translate INPUT -o OUTPUT.dxf [-f] [--config FILE] [--map FILE]\n"
    "                        [--save-model DIR] [--report] [-SETTING VALUE ...]\n"
    "\n"
    "Translates an IGES file (fixed or compressed ASCII form; plain, gzip or zip) into an ASCII\n"
    "DXF file (docs/translator.md).\n"
    "  -o FILE            the DXF file; written whole or not at all (- for standard output)\n"
    "  -f, --force        replace an existing DXF file (without it the run refuses)\n"
    "  --config FILE      settings (samples/translate.cfg shows them all)\n"
    "  --map FILE         a mapping file: mappings switched, parameter defaults set\n"
    "  --save-model DIR   also writes DIR/source.model and DIR/target.model (saved models;\n"
    "                     these two are replaced when they exist)\n"
    "  --report           a table of the entities read, translated and skipped by type\n"
    "  -SETTING VALUE     overrides a setting: -units, -scale, -surfaces, -release, -layers,\n"
    "                     -unsupported, -precision\n"
    "\n"
    "INPUT, --config and --map may be - for standard input.\n"
    "Exit status: 0 translated, 1 failed or the input had errors (the output holds what could\n"
    "be read), 2 for a usage error.\n";

int run(int argc, char **argv) {
  const char *output = nullptr, *config = nullptr, *map_file = nullptr, *save_dir = nullptr;
  int32_t report = 0, force = 0;
  const ugn_Option options[] = {
      {"o", "s+", "OUTPUT.dxf", &output, "the DXF file (- for standard output)"},
      {"-config", "s", "FILE", &config, "settings"},
      {"-map", "s", "FILE", &map_file, "a mapping file"},
      {"-save-model", "s", "DIR", &save_dir, "also write DIR/source.model and DIR/target.model"},
      {"-report", "f", nullptr, &report, "a table of the entities read, translated and skipped"},
      {"f", "f", nullptr, &force, "replace OUTPUT.dxf if it exists"},
      {"-force", "f", nullptr, &force, "the same as -f"},
      // The settings, handed to the configuration reader as command-line overrides.
      {"units", "s", "UNITS", nullptr, "the output's units: file, mm, cm, m, km, inch, foot, mile, mil, micron"},
      {"scale", "s", "FACTOR", nullptr, "every coordinate times FACTOR (2, 0.5, 1.0e3; an exponent needs a point)"},
      {"surfaces", "s", "skip|boundaries", nullptr, "draw the boundary curves of surfaces, or not"},
      {"release", "s", "RELEASE", nullptr, "the DXF release: R2000, R2004, R2007, R2010, R2013 or R2018"},
      {"layers", "s", "level|name", nullptr, "layers named by level number, or by 406-3 level name"},
      {"unsupported", "s", "report|quiet", nullptr, "name the unsupported types, or not"},
      {"precision", "s", "1|0", nullptr, "16 significant digits, or 12"},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  Args args;
  if (const int parsed = parse_args(options, "INPUT", argc, argv, &args); parsed != 0) return parsed;
  if (args.operands.size() != 1) return usage_error("expects one INPUT");
  translate::Options o;
  for (const auto &[name, value] : args.listed) {
    o.settings.push_back("-" + name);
    o.settings.push_back(value);
  }
  const char *input = input_file(args.operands[0]);
  if (input == nullptr) return 1;
  if (config != nullptr && (config = input_file(config)) == nullptr) return 1;
  if (map_file != nullptr && (map_file = input_file(map_file)) == nullptr) return 1;
  Output out;
  if (!out.prepare(output, {input, config, map_file}, force != 0)) return 1;
  o.input = input;
  o.shown_input = args.operands[0];
  o.output = out.path();
  o.shown_output = out.target() == "-" ? "standard output" : out.target();
  o.config = config != nullptr ? config : "";
  o.map_file = map_file != nullptr ? map_file : "";
  o.save_dir = save_dir != nullptr ? save_dir : "";
  o.report = report != 0;
  o.progress = isatty(2) != 0;
  // With the DXF on standard output, what the run says goes to standard error.
  const bool dxf_on_stdout = out.target() == "-";
  std::fflush(stdout);
  const int saved_stdout = dxf_on_stdout ? ::dup(1) : -1;
  if (saved_stdout >= 0) ::dup2(2, 1);
  int rc = translate::translate(o);
  show_pending();
  if (saved_stdout >= 0) {
    std::fflush(stdout);
    ::dup2(saved_stdout, 1);
    ::close(saved_stdout);
  }
  // A run that read the input with errors still writes what it could read.
  if (::access(out.path(), F_OK) == 0 && !out.commit()) rc = 1;
  return rc;
}

const Registrar kRegistrar({"translate", "translates an IGES file into a DXF file", kUsage, run});

}  // namespace
}  // namespace tesmar::cli
