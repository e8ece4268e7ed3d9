// The OBIS codes the unit actually has for a kind of data: the header lines
// of the meters' data files of that kind, or, for the instantaneous values,
// the codes of the meters' last readings in the store.
#pragma once

#include <string>
#include <vector>

#include "web/selection_views.hpp"

namespace dcu::web {

struct CatalogueCode {
    std::string obis;
    int meters = 0;  // how many meters have it
};

struct Catalogue {
    bool store_reached = false;  // the meter list came: without it no meter is known
    int meters = 0;              // meters looked at
    std::vector<CatalogueCode> codes;  // in the order first met (meter order, then header order)
};

Catalogue catalogue_of(DataKind kind);

}  // namespace dcu::web
