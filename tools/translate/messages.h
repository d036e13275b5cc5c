// The translator's message table (module TRN, 251): its messages and the names of its mapping
// parameters. `tesmar messages TRN` lists it once the translator has started.
#pragma once

#include "tesmar/tesmar.h"

namespace tesmar::translate {

constexpr mpm_Status kTrnModule = 251u << 16;
// " IGES file %s, %s section, record %d: %s.\n"
constexpr mpm_Status TRN_IGES_RECORD = kTrnModule | 1;
// " IGES file %s, directory entry %d (type %d): %s.\n"
constexpr mpm_Status TRN_IGES_ENTITY = kTrnModule | 2;
// " IGES file %s: %s.\n"
constexpr mpm_Status TRN_IGES_FILE = kTrnModule | 3;
// "+Entity %<PTR> (IGES %<TF>, directory entry %d): %s.\n"
constexpr mpm_Status TRN_ENTITY = kTrnModule | 4;
// Parameters: the scale applied to every coordinate, the segments of a conic arc.
constexpr mpm_Status TRN_SCALE = kTrnModule | 5;
constexpr mpm_Status TRN_CONIC_SEGMENTS = kTrnModule | 6;

// Registers the table (once).
void register_messages();

}  // namespace tesmar::translate
