// A schema that uses every feature of the schema language; the round-trip tests check every lookup
// against what it declares.
#pragma once

namespace tesmar::test {

inline constexpr const char *kEverything = R"ddl(
# Every kind, flag, modifier and option of the language.
database "everything" version 3 release 7;
attributes red, green, blue;

entity Base 5:1 "A plain entity" attributes(red, blue) index 9 {
    short s "a short" default -5 values(-1 "minus one", 2 "two");
    int i default 1234;
    long l default -2 modifiers(range);
    float f default pi;
    double d default pi/4 since 3.5;
    double one default 1;
    double half default pi/2;
    double zero default 0;
    char c default 'A' attributes(green, blue);
    fstring(12) name "twelve characters" modifiers(maxlength);
    vstring text "a text";
    ptr p;
    ptr(any) anything;
    ptr(none) nothing;
    ptr(base, other) typed;
    derived length "computed" index 3;
    method area index 4;
}

entity other 5:2 "Arrays, structures and unions" {
    count n "vertices";
    count m;
    let total = n * m + 1;
    double pts[n][3];
    int grid[n][m] variable;
    int fixed[2][3];
    short open[];
    float more[n+1];
    char letters[total];
    fstring(8) labels[m];
    struct seg[n] "segments" {
        count k;
        double w[k];
        int flag values(0 "off", 1 "on");
    }
    union u "a union" {
        int a;
        double b;
        struct st { short x; short y; }
    }
    subent base inner;
    double tail default key 50;
    let halves = (n + 1) / 2;
}

entity last 65535:-1 {
    char tag;
}
)ddl";

}  // namespace tesmar::test
