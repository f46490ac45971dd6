// Images and media values.
#pragma once

#include <qn/host/images.h>
#include <qn/media/image_util.h>
