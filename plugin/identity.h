// The plug-in's identity texts. Plain string macros, so that the version
// resource of each shipped binary (read by the resource compiler) and
// _nbInitPlugIn take them from this one place.
#pragma once

#define KQ_DISPLAY_NAME "Kalvix Quad ORVANE"
#define KQ_AUTHOR "Pellacor"
#define KQ_DESCRIPTION "ORVANE PRECISION: Maximum spectral purity tone generator with 4 independent channels."
