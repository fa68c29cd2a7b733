// Compiled by the layering tests: a header of the profile folder, which the log folder must not
// see and the profile folder must.
#include "profile/records.h"
