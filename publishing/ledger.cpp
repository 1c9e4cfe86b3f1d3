#include "publishing/ledger.h"

#include <algorithm>

#include "text/text_helpers.h"

namespace qj::publishing {

namespace {

std::optional<LedgerEntry> ParseEntry(const Text& line) {
    if (line.starts_with("#")) {
        return std::nullopt;
    }
    std::vector<Text> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == Text::npos ? Text::npos : tab - start));
        if (tab == Text::npos) {
            break;
        }
        start = tab + 1;
    }
    if (fields.size() < 2 || fields[0].empty() || fields[1].empty()) {
        return std::nullopt;
    }
    fields.resize(5);
    return LedgerEntry{fields[0], fields[1], fields[2], fields[3], fields[4]};
}

Text Field(const Text& value) {
    return value.empty() ? Text("-") : value;
}

Text JournalLine(const Text& file, const Text& site) {
    return file + "\t" + site;
}

}  // namespace

std::optional<Error> Ledger::Load() {
    if (std::optional<Error> error = lines_.Load()) {
        return error;
    }
    lines_.Read([&](const DurableLines::Lines& lines) {
        for (const Text& line : lines) {
            if (std::optional<LedgerEntry> entry = ParseEntry(line)) {
                Index(*entry);
            }
        }
    });
    return std::nullopt;
}

void Ledger::Index(const LedgerEntry& entry) {
    std::lock_guard lock(mutex_);
    published_.emplace(entry.file, entry.site);
    files_.insert(entry.file);
    // Dates of one form compare as texts; "-" (none) sorts before every date.
    Text& latest = latest_[entry.site];
    if (entry.date != "-" && entry.date > latest) {
        latest = entry.date;
    }
}

bool Ledger::Has(const Text& file, const Text& site) const {
    std::lock_guard lock(mutex_);
    return published_.contains({file, site});
}

bool Ledger::HasFile(const Text& file) const {
    std::lock_guard lock(mutex_);
    return files_.contains(file);
}

Text Ledger::LatestDate(const Text& site) const {
    std::lock_guard lock(mutex_);
    const auto found = latest_.find(site);
    return found == latest_.end() ? Text() : found->second;
}

std::optional<Error> Ledger::Record(const std::vector<LedgerEntry>& entries) {
    std::optional<Error> error = lines_.Change([&](DurableLines::Lines& lines) {
        for (const LedgerEntry& entry : entries) {
            lines.push_back(entry.file + "\t" + entry.site + "\t" + Field(entry.id) + "\t" + Field(entry.link) + "\t" +
                            Field(entry.date));
        }
    });
    // Even an entry that did not reach the disk stands for a post the site has: it is not sent again
    // in this run.
    for (const LedgerEntry& entry : entries) {
        Index(entry);
    }
    return error;
}

std::optional<Error> PublishJournal::Load(const Ledger& ledger) {
    if (std::optional<Error> error = lines_.Load()) {
        return error;
    }
    (void)lines_.ChangeLater([&](DurableLines::Lines& lines) {
        std::erase_if(lines, [&](const Text& line) {
            const std::size_t tab = line.find('\t');
            return tab == Text::npos || ledger.Has(line.substr(0, tab), line.substr(tab + 1));
        });
    });
    return std::nullopt;
}

bool PublishJournal::Has(const Text& file, const Text& site) const {
    bool found = false;
    lines_.Read([&](const DurableLines::Lines& lines) {
        found = std::find(lines.begin(), lines.end(), JournalLine(file, site)) != lines.end();
    });
    return found;
}

std::optional<Error> PublishJournal::Begin(const Text& file, const Text& site, const TextList& ahead) {
    std::unique_lock lock(mutex_);
    const auto present = added_.find(JournalLine(file, site));
    if (present != added_.end()) {
        const std::uint64_t change = present->second;
        lock.unlock();
        return lines_.WaitWritten(change);
    }
    TextList fresh{JournalLine(file, site)};
    for (const Text& next : ahead) {
        if (!added_.contains(JournalLine(next, site))) {
            fresh.push_back(JournalLine(next, site));
        }
    }
    const std::uint64_t change = lines_.ChangeLater([&](DurableLines::Lines& lines) {
        for (const Text& line : fresh) {
            if (std::find(lines.begin(), lines.end(), line) == lines.end()) {
                lines.push_back(line);
            }
        }
    });
    for (const Text& line : fresh) {
        added_[line] = change;
    }
    lock.unlock();
    return lines_.WaitWritten(change);
}

void PublishJournal::End(const Text& file, const Text& site) {
    const Text line = JournalLine(file, site);
    std::lock_guard lock(mutex_);
    added_.erase(line);
    (void)lines_.ChangeLater([&](DurableLines::Lines& lines) { std::erase(lines, line); });
}

}  // namespace qj::publishing
