#pragma once

#include "ParallelStaging.h"
#include "Platform.h"
#include "ZipPackage.h"

// Extracts every entry of the open package below `baseDirectory`, all or
// nothing. A journal beside the product's files records each change first.
// Every file entry is decoded into a temporary beside its target and
// verified; only when all have verified are they installed as one change
// (installStaged). Any failure leaves every existing file as it was, removes
// what the attempt created, and throws "<reason> in entry <name>" or the
// package-level reason. A package must hold Vantra.exe.
// The entries are decoded on several threads (see stageFiles()).
void extractStaged(const ZipPackage& package, const platform::Path& baseDirectory,
                   const StagingOptions& options = {});
