#include "checks/duplicate_index.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "text/ascii.h"

namespace qj {

namespace {

constexpr int kLargestBucketBits = 18;
constexpr std::size_t kHexDigits = 16;

std::uint64_t Mix(std::uint64_t x) {
    x = (x ^ (x >> 33)) * 0xFF51AFD7ED558CCDull;
    x = (x ^ (x >> 33)) * 0xC4CEB9FE1A85EC53ull;
    return x ^ (x >> 33);
}

bool EndsWithTxt(std::string_view name) {
    if (name.size() < 4) {
        return false;
    }
    const std::string_view end = name.substr(name.size() - 4);
    return end[0] == '.' && LowerAscii(end[1]) == 't' && LowerAscii(end[2]) == 'x' && LowerAscii(end[3]) == 't';
}

// An article's file: a .txt name that was not left half written and that names the file exactly (a
// name with a character the code page lacks reads as "?" and cannot be opened by it).
bool IsArticleName(std::string_view name) {
    return name.size() > 4 && EndsWithTxt(name) && !name.starts_with(kPartialFilePrefix) &&
           name.find('?') == std::string_view::npos;
}

std::optional<Fingerprint> ParseHex(std::string_view digits) {
    if (digits.size() != kHexDigits) {
        return std::nullopt;
    }
    Fingerprint value = 0;
    for (const char c : digits) {
        const int digit = HexDigitValue(static_cast<char32_t>(static_cast<unsigned char>(c)));
        if (digit < 0) {
            return std::nullopt;
        }
        value = value << 4 | static_cast<unsigned>(digit);
    }
    return value;
}

// The lines of an index file: file name -> fingerprint, later lines over earlier ones. False when
// the file is not one (its first line is not the header); `lines` counts the article lines.
bool ParseIndex(std::string_view contents, std::unordered_map<Text, Fingerprint>& found, std::size_t& lines) {
    const std::string_view header = DuplicateIndex::kHeader;
    if (!contents.starts_with(header) || contents.substr(header.size(), 2) != "\r\n") {
        return false;
    }
    contents.remove_prefix(header.size() + 2);
    while (!contents.empty()) {
        const std::size_t end = contents.find("\r\n");
        if (end == std::string_view::npos) {
            break;  // the end of a line the program was killed while writing
        }
        const std::string_view line = contents.substr(0, end);
        contents.remove_prefix(end + 2);
        ++lines;
        if (line.size() <= kHexDigits + 1 || line[kHexDigits] != ' ') {
            continue;
        }
        if (const std::optional<Fingerprint> fingerprint = ParseHex(line.substr(0, kHexDigits))) {
            found[Text(line.substr(kHexDigits + 1))] = *fingerprint;
        }
    }
    return true;
}

}  // namespace

Text KeywordOfArticleName(const Text& fileName) {
    std::string_view stem = fileName;
    if (EndsWithTxt(stem)) {
        stem.remove_suffix(4);
    }
    constexpr std::size_t kTag = 9;  // "~" and eight hexadecimal digits
    if (stem.size() > kTag && stem[stem.size() - kTag] == '~' &&
        std::all_of(stem.end() - (kTag - 1), stem.end(), [](char c) { return HexDigitValue(c) >= 0; })) {
        stem.remove_suffix(kTag);
    }
    return Text(stem);
}

DuplicateIndex::DuplicateIndex(Text folder, Text indexFile, int maxDistance)
    : folder_(folder.empty() || folder.back() == '/' ? std::move(folder) : std::move(folder) + "/"),
      indexFile_(std::move(indexFile)),
      maxDistance_(std::clamp(maxDistance, 0, kMaxDistance)) {
    // maxDistance + 1 blocks: two fingerprints within maxDistance bits differ in at most
    // maxDistance blocks, so at least one block is the same in both.
    const int count = maxDistance_ + 1;
    int shift = 0;
    for (int i = 0; i < count; ++i) {
        Block& block = blocks_.emplace_back();
        block.width = 64 / count + (i < 64 % count ? 1 : 0);
        block.shift = shift;
        shift += block.width;
        block.bucketBits = std::min(block.width, kLargestBucketBits);
        block.heads.assign(std::size_t{1} << block.bucketBits, kNone);
    }
}

std::size_t DuplicateIndex::BucketOf(const Block& block, Fingerprint fingerprint) const {
    const std::uint64_t value =
        block.width == 64 ? fingerprint : (fingerprint >> block.shift) & ((std::uint64_t{1} << block.width) - 1);
    if (block.width <= kLargestBucketBits) {
        return static_cast<std::size_t>(value);
    }
    return static_cast<std::size_t>(Mix(value) >> (64 - block.bucketBits));
}

std::uint32_t DuplicateIndex::Add(Fingerprint fingerprint, const Text& fileName, const Text& keyword, bool pending) {
    std::uint32_t replaced = kNone;
    if (const auto it = byName_.find(fileName); it != byName_.end()) {
        replaced = it->second;
        Remove(replaced);
    }
    const auto id = static_cast<std::uint32_t>(entries_.size());
    entries_.push_back({fingerprint, fileName, keyword, pending, true, pending ? replaced : kNone});
    for (Block& block : blocks_) {
        std::uint32_t& head = block.heads[BucketOf(block, fingerprint)];
        block.next.push_back(head);
        head = id;
    }
    byName_[fileName] = id;
    return id;
}

// Entries stay in their chains, marked dead: a lookup passes over them. A run adds a few thousand
// at most; Open starts afresh.
void DuplicateIndex::Remove(std::uint32_t entry) {
    Entry& e = entries_[entry];
    if (!e.alive) {
        return;
    }
    e.alive = false;
    byName_.erase(e.fileName);
}

std::optional<std::uint32_t> DuplicateIndex::Closest(Fingerprint fingerprint, const Text& fileName,
                                                     int& distance) const {
    std::optional<std::uint32_t> best;
    distance = maxDistance_ + 1;
    for (const Block& block : blocks_) {
        for (std::uint32_t id = block.heads[BucketOf(block, fingerprint)]; id != kNone; id = block.next[id]) {
            const Entry& e = entries_[id];
            const int d = FingerprintDistance(e.fingerprint, fingerprint);
            if (d < distance && e.alive && e.fileName != fileName) {
                best = id;
                distance = d;
            }
        }
    }
    return best;
}

bool DuplicateIndex::StillTrue(std::uint32_t entry) {
    if (entries_[entry].pending) {
        return true;  // its file is being written
    }
    const Text name = entries_[entry].fileName;
    Result<Bytes> contents = ReadFileBytes(folder_ + name);
    if (!contents || contents->empty()) {
        Remove(entry);  // deleted by the user (an empty file is no article either)
        return false;
    }
    const Fingerprint now = ArticleFingerprint(*contents);
    if (now == entries_[entry].fingerprint) {
        return true;
    }
    // Changed by the user: what it holds now counts, in this run and the next.
    const std::uint32_t changed = Add(now, name, entries_[entry].keyword, false);
    static_cast<void>(AppendLine(entries_[changed]));
    return false;
}

DuplicateIndex::Opened DuplicateIndex::Open() {
    Opened opened;
    std::lock_guard lock(mutex_);
    Bytes contents;
    std::unordered_map<Text, Fingerprint> indexed;
    std::size_t lines = 0;
    bool upToDate = true;
    if (Result<Bytes> read = ReadFileOrEmpty(indexFile_); !read) {
        opened.error = read.error();
        upToDate = false;
    } else if (contents = std::move(*read); !contents.empty() && !ParseIndex(contents, indexed, lines)) {
        upToDate = false;  // not our file, or one of another version: made anew
    }
    headerWritten_ = !contents.empty() && upToDate;

    Result<std::vector<Text>> listed = ListFolder(folder_);
    if (!listed) {
        // Without the names nothing can be told about the folder: the index counts as it is.
        opened.error = listed.error();
        for (const auto& [name, fingerprint] : indexed) {
            Add(fingerprint, name, {}, false);
        }
        opened.articles = byName_.size();
        return opened;
    }
    std::vector<Text>& names = *listed;
    std::sort(names.begin(), names.end());  // the same order in every run, whatever the system lists
    for (const Text& name : names) {
        if (!IsArticleName(name)) {
            continue;
        }
        if (const auto it = indexed.find(name); it != indexed.end()) {
            Add(it->second, name, {}, false);
            continue;
        }
        Result<Bytes> article = ReadFileBytes(folder_ + name);
        if (article && !article->empty()) {
            Add(ArticleFingerprint(*article), name, {}, false);
            ++opened.read;
        }
    }
    opened.articles = byName_.size();
    opened.dropped = indexed.size() + opened.read - opened.articles;
    upToDate = upToDate && opened.read == 0 && opened.dropped == 0 && lines == indexed.size();
    if (!upToDate && !(contents.empty() && opened.articles == 0)) {
        Bytes rewritten = Text(kHeader) + "\r\n";
        for (const Entry& e : entries_) {
            if (e.alive) {
                rewritten += IndexLine(e);
            }
        }
        // A cache of what the folder holds: a lost update costs a read of the articles next time.
        if (Result<void> e = ReplaceFileContents(indexFile_, rewritten, 0644, false); !e) {
            opened.error = e.error();
        } else {
            headerWritten_ = true;
        }
    }
    return opened;
}

std::optional<NearDuplicate> DuplicateIndex::Admit(Fingerprint fingerprint, const Text& fileName, const Text& keyword) {
    std::lock_guard lock(mutex_);
    while (true) {
        int distance = 0;
        const std::optional<std::uint32_t> closest = Closest(fingerprint, fileName, distance);
        if (!closest) {
            Add(fingerprint, fileName, keyword, true);
            return std::nullopt;
        }
        // An earlier article that is gone or changed gave way; the next closest one is looked at.
        if (StillTrue(*closest)) {
            const Entry& e = entries_[*closest];
            return NearDuplicate{e.keyword.empty() ? KeywordOfArticleName(e.fileName) : e.keyword, e.fileName,
                                 distance};
        }
    }
}

void DuplicateIndex::Withdraw(const Text& fileName) {
    std::lock_guard lock(mutex_);
    const auto it = byName_.find(fileName);
    if (it == byName_.end() || !entries_[it->second].pending) {
        return;
    }
    const std::uint32_t replaced = entries_[it->second].replaced;
    Remove(it->second);
    if (replaced != kNone) {
        entries_[replaced].alive = true;  // still in its chains
        byName_[fileName] = replaced;
    }
}

Result<void> DuplicateIndex::Written(const Text& fileName) {
    std::lock_guard lock(mutex_);
    const auto it = byName_.find(fileName);
    if (it == byName_.end()) {
        return Success();
    }
    entries_[it->second].pending = false;
    return AppendLine(entries_[it->second]);
}

Result<void> DuplicateIndex::AppendLine(const Entry& entry) {
    Bytes line = IndexLine(entry);
    if (!headerWritten_) {
        line = Text(kHeader) + "\r\n" + line;
    }
    Result<void> error = AppendToFile(indexFile_, line);
    headerWritten_ = headerWritten_ || error.ok();
    return error;
}

std::size_t DuplicateIndex::size() const {
    std::lock_guard lock(mutex_);
    return byName_.size();
}

Bytes DuplicateIndex::IndexLine(const Entry& entry) const {
    char hex[kHexDigits + 1];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(entry.fingerprint));
    return Text(hex, kHexDigits) + " " + entry.fileName + "\r\n";
}

}  // namespace qj
