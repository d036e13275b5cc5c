// `tesmar translate INPUT -o OUTPUT.dxf`: the sample translator (tools/translate/,
// docs/translator.md).
#include <unistd.h>

#include <cstring>
#include <string>

#include "command.h"
#include "translate.h"

namespace tesmar::cli {
namespace {

const char kUsage[] =
    "usage: tesmar translate INPUT -o OUTPUT.dxf [--config FILE] [--map FILE]\n"
    "                        [--save-model DIR] [--report] [-SETTING VALUE ...]\n"
    "\n"
    "Translates an IGES file (plain, gzip or zip) into an ASCII DXF file (docs/translator.md).\n"
    "  -o FILE            the DXF file; written whole or not at all\n"
    "  --config FILE      settings (samples/translate.cfg shows them all)\n"
    "  --map FILE         a mapping file: mappings switched, parameter defaults set\n"
    "  --save-model DIR   also writes DIR/source.model and DIR/target.model (saved models)\n"
    "  --report           a table of the entities read, translated and skipped by type\n"
    "  -SETTING VALUE     overrides a setting: -units, -scale, -surfaces, -release, -layers,\n"
    "                     -unsupported, -precision\n"
    "\n"
    "Exit status: 0 translated, 1 failed or the input had errors (the output holds what could\n"
    "be read), 2 for a usage error.\n";

int run(int argc, char **argv) {
  translate::Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string *out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    bool ok = true;
    if (is_help(a)) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "-o") ok = value(&o.output);
    else if (a == "--config") ok = value(&o.config);
    else if (a == "--map") ok = value(&o.map_file);
    else if (a == "--save-model") ok = value(&o.save_dir);
    else if (a == "--report") o.report = true;
    else if (a.size() > 1 && a[0] == '-' && a[1] != '-') {
      std::string v;
      ok = value(&v);
      o.settings.push_back(a), o.settings.push_back(v);
    } else if (a[0] == '-' && a != "-") return usage_error("translate", ("unknown option " + a).c_str());
    else if (o.input.empty()) o.input = a;
    else return usage_error("translate", "one INPUT only");
    if (!ok) return usage_error("translate", (a + " needs a value").c_str());
  }
  if (o.input.empty() || o.output.empty()) return usage_error("translate", "INPUT and -o OUTPUT.dxf are needed");
  if (!check_input("translate", o.input.c_str())) return 1;
  if (!check_output("translate", o.input.c_str(), o.output.c_str())) return 1;
  if (!o.config.empty() && !check_input("translate", o.config.c_str())) return 1;
  if (!o.map_file.empty() && !check_input("translate", o.map_file.c_str())) return 1;
  o.progress = isatty(2) != 0;
  const int rc = translate::translate(o);
  show_pending();
  return rc;
}

const Registrar kRegistrar({"translate", "translates an IGES file into a DXF file", kUsage, run});

}  // namespace
}  // namespace tesmar::cli
