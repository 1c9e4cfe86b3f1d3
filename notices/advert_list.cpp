#include "notices/advert_list.h"

#include <atomic>
#include <ctime>
#include <random>
#include <string>

#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr const char* kAdvertSeparator = "----";

bool StartsWithIgnoringCase(const Text& text, std::string_view prefix) {
    return FindText(text, prefix, 0, true) == 0;
}

}  // namespace

void AdvertLinkList::Clear() {
    std::lock_guard lock(mutex_);
    items_.clear();
}

void AdvertLinkList::Append(const Text& address) {
    std::lock_guard lock(mutex_);
    items_.push_back(address);
}

std::optional<Text> AdvertLinkList::At(long long row) const {
    std::lock_guard lock(mutex_);
    if (row < 0 || static_cast<unsigned long long>(row) >= items_.size()) {
        return std::nullopt;
    }
    return items_[static_cast<std::size_t>(row)];
}

std::size_t AdvertLinkList::Size() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

TextList AdvertLinkList::Items() const {
    std::lock_guard lock(mutex_);
    return items_;
}

void AdvertLinkList::Release() {
    std::lock_guard lock(mutex_);
    items_.clear();
    items_.shrink_to_fit();
}

AdvertLine ParseAdvertLine(const Text& line) {
    return AdvertLine{.title = TextLeftOf(line, kAdvertSeparator), .address = TextRightOf(line, kAdvertSeparator)};
}

int DrawAdvertColourNumber() {
    // Two draws within one millisecond still get different seeds.
    static std::atomic<unsigned> reseedings{0};
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto tickMs =
        static_cast<unsigned long long>(now.tv_sec) * 1000 + static_cast<unsigned long long>(now.tv_nsec) / 1000000;
    std::mt19937 generator(static_cast<unsigned>(tickMs) + reseedings.fetch_add(1));
    return std::uniform_int_distribution<int>(1, 5)(generator);
}

bool IsWebAddress(const Text& address) {
    for (std::string_view scheme : {"http://", "https://"}) {
        if (StartsWithIgnoringCase(address, scheme) && address.size() > scheme.size()) {
            return true;
        }
    }
    return false;
}

}  // namespace qj
