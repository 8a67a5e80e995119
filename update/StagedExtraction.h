#pragma once

#include "ParallelStaging.h"
#include "Platform.h"
#include "ZipPackage.h"

// Extracts every entry of the open package below `baseDirectory`. Every file
// entry is first decoded into a temporary beside its target and verified; only
// when all have verified are the temporaries moved over their targets, in
// central-directory order. A target that cannot be replaced keeps its content
// and is skipped. Any failure before that point removes the temporaries,
// leaves every existing file as it was, and throws. The entries are decoded
// on several threads (see stageFiles()).
void extractStaged(const ZipPackage& package, const platform::Path& baseDirectory,
                   const StagingOptions& options = {});
