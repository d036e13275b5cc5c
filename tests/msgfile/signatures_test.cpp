// Which replacement texts take the arguments of the built-in text they replace.
#include <gtest/gtest.h>

#include "msgfile/msgfile_internal.h"

namespace tesmar::test {
namespace {

struct Case {
  const char *built_in;
  const char *replacement;
  bool accepted;
};

TEST(ReplacementArguments, SameArgumentTypesInTheSameOrderAreAccepted) {
  const Case cases[] = {
      {" Object not found\n", " Objekt nicht gefunden\n", true},
      {" Invalid size = %d\n", " Ungueltige Groesse = %d\n", true},
      {" Invalid size = %d\n", " Taille %5x invalide\n", true},          // another int conversion
      {" Invalid size = %d\n", "+Taille invalide : %d\n", true},          // formatted by the engine
      {" Error opening file %s.\n", " Datei %s: Fehler beim Oeffnen.\n", true},
      {" Cleanup error (%lx) in %s at line %d.\n", " %s:%d: cleanup error %lx\n", false},
      {" Cleanup error (%lx) in %s at line %d.\n", " Fehler (%lx) in %s, Zeile %d.\n", true},
      {" Data size one (%d) does not equal data size two (%d)\n", " %2$d != %1$d\n", true},
      {"+%<PTR> in %<TF>\n", "+%<TF>: %<PTR>\n", false},
      {"+%<PTR> in %<TF>\n", "+%1$<PTR> dans %2$<TF>\n", true},
      {"+%2$s %1$d\n", "+%d then %s\n", true},                             // both take int, string
      {" %s and %s\n", " %2$s und %1$s\n", true},
      {" 100%% done\n", " 100%% fertig\n", true},
      {" %.*s\n", " %.*s!\n", true},
      {" %d\n", " no argument\n", false},
      {" no argument\n", " %d\n", false},
      {" %d\n", " %s\n", false},                      // a string read from an int
      {" %d\n", " %ld\n", false},                     // 64 bits read from an int
      {" %ld\n", " %lu\n", true},
      {" %f\n", " %g\n", true},
      {" %f\n", " %Lf\n", false},
      {" %d\n", " %n\n", false},                      // writes through its argument
      {" %d\n", " %d%n\n", false},
      {" %d\n", " %99999d\n", false},                  // a width past what a text needs
      {" %d\n", " %1$d %d\n", false},                 // numbered and unnumbered mixed
      {" %d %d\n", " %2$d %2$d\n", false},            // argument 1 never read
      {" %d %s\n", " %1$d %1$s\n", false},            // one argument read as two types
      {" %d\n", " %y\n", false},                      // unknown conversion
      {" %d\n", " %", false},
      {" %d\n", "x%d\n", false},                      // no marker
      {" %s\n", "+%<PTR>\n", false},
      {" %d\n", "+%<PTR>\n", false},
      {" %d %s\n", "+%2$s %1$d\n", true},
      // A blank-marker text read by the engine (MPM_DIRECTIVES) must agree too: the engine does
      // not know "%lld", so it would read nothing where printf reads a 64-bit value.
      {" %ld\n", " %lld\n", false},
      {" %d\n", " %hhd\n", false},
      {" %p\n", " %p\n", true},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(msgfile::same_arguments(c.built_in, c.replacement), c.accepted)
        << "built-in \"" << c.built_in << "\" replacement \"" << c.replacement << "\"";
  }
}

}  // namespace
}  // namespace tesmar::test
