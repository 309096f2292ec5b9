// The version text that every program and the driver show.
#pragma once

#define PRODUCT_VERSION "1.04"
