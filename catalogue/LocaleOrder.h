#pragma once
// Locale-aware ordering of texts for those without a toolkit of their own (the command line).

#include "catalogue/ItemTree.h"

// Collation of the user's locale (LC_ALL / LC_COLLATE / LANG); byte order when that locale
// is unknown to the system.
TextLess UserLocaleLess();
