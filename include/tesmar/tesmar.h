/*
 * Tesmar: every public header of the library.
 */
#ifndef TESMAR_TESMAR_H
#define TESMAR_TESMAR_H

#include "tesmar/types.h"
#include "tesmar/otm.h"
#include "tesmar/olm.h"
#include "tesmar/dar.h"
#include "tesmar/dst.h"
#include "tesmar/eam.h"
#include "tesmar/mpm.h"
#include "tesmar/tmx.h"
#include "tesmar/hdb.h"
#include "tesmar/evm.h"
#include "tesmar/mth.h"
#include "tesmar/ddf.h"
#include "tesmar/ugn.h"
#include "tesmar/unl.h"
#include "tesmar/mda.h"
#include "tesmar/dof.h"
#include "tesmar/fmt.h"
#include "tesmar/map.h"
#include "tesmar/cfg.h"

#endif
