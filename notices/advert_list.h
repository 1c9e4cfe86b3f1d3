#pragma once

#include <cstddef>
#include <mutex>
#include <optional>

#include "text/types.h"

namespace qj {

// The addresses of an advert list, one per row, in row order. Safe from any thread.
class AdvertLinkList {
public:
    void Clear();
    void Append(const Text& address);
    std::optional<Text> At(long long row) const;
    std::size_t Size() const;
    TextList Items() const;
    // Empties the list and gives its memory back (exit).
    void Release();

private:
    mutable std::mutex mutex_;
    TextList items_;
};

// One line of the advert text: title----address. Without "----" both are empty; with several, the
// title is before the first and the address behind the last.
struct AdvertLine {
    Text title;
    Text address;
};
AdvertLine ParseAdvertLine(const Text& line);

// A draw from 1 to 5 inclusive, from a generator seeded anew for every draw: the colour of an
// advert row's title (the window's colour table says which).
int DrawAdvertColourNumber();
// Whether an address may be handed to the browser: http:// or https:// (any letter case) and more.
bool IsWebAddress(const Text& address);

}  // namespace qj
