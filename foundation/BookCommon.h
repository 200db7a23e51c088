#pragma once

#include "foundation/BookCommonDevice.h"
#include "foundation/BookCommonLocks.h"
#include "foundation/BookCommonNames.h"
#include "foundation/BookCommonPaths.h"
#include "foundation/BookCommonPositions.h"
#include "foundation/BookCommonTypes.h"
#include "foundation/BookCommonText.h"
#include "foundation/BookCommonToolbars.h"
#include "foundation/BookCommonViews.h"

// The shared helper of the whole program: class operations only, never
// instantiated. Its operations are many, so they are grouped by area, one
// base class per area in its own files; callers always write BookCommon::x().
class BookCommon : public BookCommonPaths,
                   public BookCommonTypes,
                   public BookCommonDevice,
                   public BookCommonText,
                   public BookCommonToolbars,
                   public BookCommonViews,
                   public BookCommonLocks,
                   public BookCommonNames,
                   public BookCommonPositions {
public:
    BookCommon() = delete;
};
