// The version text that every program and the driver show.
#pragma once

#define PRODUCT_VERSION "1.04"
// The same as the four numbers of a version resource.
#define PRODUCT_VERSION_NUMBERS 1, 4, 0, 0
