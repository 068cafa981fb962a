/// @file
/// Kestrune: exact x2 enlargement and crisp reduction of raster images.
///
/// Everything of the library is in the namespace kestrune and in these
/// headers: images (image.h), files (io.h), resizing (resize.h), the
/// enlargement (upscale.h), the reduction with hinting (downscale.h), progress
/// and cancellation (progress.h), threads (threads.h) and bytes for screens
/// and clipboards (bitmap.h). Functions report failures in their results and
/// never throw, except where a declaration says std::bad_alloc.
#pragma once

#include "kestrune/bitmap.h"
#include "kestrune/downscale.h"
#include "kestrune/image.h"
#include "kestrune/io.h"
#include "kestrune/progress.h"
#include "kestrune/resize.h"
#include "kestrune/result.h"
#include "kestrune/threads.h"
#include "kestrune/upscale.h"
#include "kestrune/version.h"
