#include "web/selection_views.hpp"

#include <array>

#include "common/paths.hpp"

namespace dcu::web {

namespace {

// The on-demand billing and midnight requests read their sections from the
// event file, beside the events' own; the file-content requests read one
// section of each per-kind file.
constexpr std::array kViews = {
    View{"od-billing", "On-demand billing", paths::kEventSelection, "BillParams", DataKind::billing},
    View{"od-midnight", "On-demand midnight values", paths::kEventSelection, "MNParams", DataKind::daily},
    View{"events", "Events (on-demand and event files)", paths::kEventSelection, "EventParams", DataKind::event},
    View{"bill-content", "Billing file contents", paths::kBillSelection, "BillParams", DataKind::billing},
    View{"dp-content", "Midnight file contents", paths::kDpSelection, "MNParams", DataKind::daily},
    View{"ls-content", "Load-survey file contents", paths::kLsSelection, "LSParams", DataKind::load_survey},
    View{"inst", "Instantaneous values", paths::kInstSelection, "InstParams", DataKind::instantaneous},
};

}  // namespace

std::span<const View> views() noexcept { return kViews; }

const View *find_view(std::string_view id) noexcept {
    for (const View &view : kViews)
        if (view.id == id) return &view;
    return nullptr;
}

std::string_view kind_name(DataKind kind) noexcept {
    switch (kind) {
    case DataKind::billing: return "billing";
    case DataKind::daily: return "midnight";
    case DataKind::event: return "event";
    case DataKind::load_survey: return "load survey";
    case DataKind::instantaneous: return "instantaneous";
    }
    return "";
}

}  // namespace dcu::web
