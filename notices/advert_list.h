#pragma once

#include <cstddef>
#include <mutex>
#include <optional>

#include "notices/row_colours.h"
#include "settings/deployment.h"
#include "text/types.h"
#include "window/window_model.h"

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

// The text colours of the advert rows, by draw (1 to 5): red, blue, violet, green, black.
inline constexpr Colour kAdvertColours[] = {0x0000FF, 0xFF0000, 0xFF0090, 0x00FF00, 0x000000};
// A draw from 1 to 5 inclusive, from a generator seeded anew for every draw.
int DrawAdvertColourNumber();
// The colour of a draw; black for a draw outside 1 to 5.
Colour AdvertColour(int draw);

// Told by every switch of the main tab control, before the switch empties the advert list: a fill
// that began earlier stops touching the list and the addresses.
void NoteNoticePageSwitch();

// Fills the (empty) advert list of `window` from the advert notice of the deployment's sites: one
// row per line, numbered from 1, with its title in column 1 and a colour drawn from kAdvertColours
// (kept in `colours`), its address in `links` (emptied first). The window handles its events during
// the fetch and after each row.
void FillAdvertList(WindowModel& window, const Deployment& deployment, AdvertLinkList& links, RowColourTable& colours);

// Opens the address of the selected advert row in the web browser. Nothing happens without a
// selected row, for a row without an address, or for an address that is not http or https.
void OpenAdvert(WindowModel& window, const AdvertLinkList& links);

// Whether an address may be handed to the browser: http:// or https:// (any letter case) and more.
bool IsWebAddress(const Text& address);

}  // namespace qj
