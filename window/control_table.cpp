#include "window/control_table.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>

namespace qj {

namespace {

constexpr const char* kKinds[] = {kind::kEdit,  kind::kCheck, kind::kRadio, kind::kCombo, kind::kButton,
                                  kind::kLabel, kind::kGroup, kind::kTab,   kind::kList,  kind::kProgress};

bool IsKnownKind(const ControlRow& row) {
    return std::any_of(std::begin(kKinds), std::end(kKinds), [&](const char* k) { return IsKind(row, k); });
}

bool IsContainer(const ControlRow& row) {
    return IsKind(row, kind::kTab) || IsKind(row, kind::kGroup);
}

}  // namespace

ClientSize ClientSizeOf(const WindowLayout& layout) {
    ClientSize size;
    for (const ControlRow& row : layout.controls) {
        if (std::string_view(row.parent).empty()) {
            size.width = std::max(size.width, row.left + row.width);
            size.height = std::max(size.height, row.top + row.height);
        }
    }
    return size;
}

Text TableProblem(ControlTable controls) {
    std::map<Text, const ControlRow*> byName;
    for (const ControlRow& row : controls) {
        if (!byName.emplace(row.name, &row).second) {
            return Text("duplicate control ") + row.name;
        }
    }
    for (const ControlRow& row : controls) {
        const Text name = row.name;
        if (!IsKnownKind(row)) {
            return name + ": unknown kind " + row.kind;
        }
        const Text parent = row.parent;
        if (parent.empty()) {
            continue;
        }
        auto container = byName.find(parent);
        if (container == byName.end() || !IsContainer(*container->second)) {
            return name + ": no container " + parent;
        }
        if (IsKind(*container->second, kind::kTab) &&
            (row.page < 0 || row.page >= static_cast<int>(container->second->pages.size()))) {
            return name + ": no page " + std::to_string(row.page);
        }
        // Up the chain of containers, which must end at the window.
        std::set<Text> seen{name};
        for (auto up = container; up != byName.end(); up = byName.find(up->second->parent)) {
            if (!seen.insert(up->first).second) {
                return "parent cycle at " + name;
            }
            if (std::string_view(up->second->parent).empty()) {
                break;
            }
        }
    }
    return {};
}

std::vector<const ControlRow*> BuildOrder(ControlTable controls) {
    std::map<Text, const ControlRow*> byName;
    for (const ControlRow& row : controls) {
        byName.emplace(row.name, &row);
    }
    std::vector<const ControlRow*> order;
    std::set<Text> placed;
    // Each row after the chain of its containers, outermost first.
    for (const ControlRow& row : controls) {
        std::vector<const ControlRow*> chain;
        for (const ControlRow* r = &row; r && !placed.count(r->name);) {
            chain.push_back(r);
            r = std::string_view(r->parent).empty() ? nullptr : byName.at(r->parent);
        }
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            placed.insert((*it)->name);
            order.push_back(*it);
        }
    }
    return order;
}

}  // namespace qj
