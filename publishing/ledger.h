#pragma once

#include <map>
#include <optional>
#include <set>
#include <utility>

#include "publishing/durable_lines.h"
#include "text/types.h"

namespace qj::publishing {

// One published article: a line "file TAB site TAB post id TAB link TAB date" of the ledger.
struct LedgerEntry {
    Text file;  // the article's file name in the output folder
    Text site;  // the site's name (Site::Name)
    Text id;
    Text link;
    Text date;  // as the site shows it, in the site's time
};

// OpenAi/发布记录.txt: every article published, with where it went. A line is on the disk before
// the article counts as published. Lines written by hand in that form count too; other lines
// (comments) are kept as they are.
class Ledger {
public:
    explicit Ledger(Text path) : lines_(std::move(path)) {}

    [[nodiscard]] std::optional<Error> Load();

    bool Has(const Text& file, const Text& site) const;
    // Whether the article went to any site.
    bool HasFile(const Text& file) const;
    // The latest date recorded for the site; empty when none.
    Text LatestDate(const Text& site) const;

    // Adds the entries and returns once they are on the disk (in one write).
    [[nodiscard]] std::optional<Error> Record(const std::vector<LedgerEntry>& entries);

    const Text& path() const { return lines_.path(); }

private:
    void Index(const LedgerEntry& entry);

    DurableLines lines_;
    mutable std::mutex mutex_;
    std::set<std::pair<Text, Text>> published_;
    std::set<Text> files_;
    std::map<Text, Text> latest_;
};

// OpenAi/正在发布.txt, the program's own journal of posts under way: a line "file TAB site" is on
// the disk before the post is sent, and goes when the post is in the ledger or known not to be on
// the site. A line found at the start of a run is a post an earlier run may have made without
// recording it: the site is asked before the article is sent again.
class PublishJournal {
public:
    explicit PublishJournal(Text path) : lines_(std::move(path)) {}

    // Reads the journal; lines of posts the ledger holds are dropped.
    [[nodiscard]] std::optional<Error> Load(const Ledger& ledger);

    bool Has(const Text& file, const Text& site) const;

    // Adds the line of `file` and returns once it is on the disk. The lines of `ahead` (posts about
    // to follow) go to the disk in the same write, so that their own Begin finds them there.
    [[nodiscard]] std::optional<Error> Begin(const Text& file, const Text& site, const TextList& ahead = {});
    // Drops a line; it leaves the disk with the next write.
    void End(const Text& file, const Text& site);
    // Writes the lines dropped since the last write.
    [[nodiscard]] std::optional<Error> Flush() { return lines_.Flush(); }

private:
    DurableLines lines_;
    mutable std::mutex mutex_;
    std::map<Text, std::uint64_t> added_;  // line -> the change that added it
};

}  // namespace qj::publishing
